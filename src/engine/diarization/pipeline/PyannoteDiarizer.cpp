#include "engine/diarization/pipeline/PyannoteDiarizer.h"

#include "engine/diarization/DiarithError.h"
#include "engine/diarization/clustering/VBxClustering.h"
#include "engine/diarization/pipeline/ProgressReporter.h"
#include "engine/foundation/Logging.h"
#include "platform/concurrency/CancellationError.h"
#include "platform/concurrency/SystemClock.h"
#include "platform/concurrency/WorkerGroup.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace diarith {
namespace {

using basalith::Logging;
using velnote::platform::WorkerGroup;

constexpr double kSampleRate = 16000.0;

// What the workers of one clip count, under its own lock.
class BatchCounter {
  public:
    // Counts one handled output; returns the new count.
    std::int64_t add(double embedderMilliseconds) {
        std::lock_guard lock(mutex_);
        embedderTime_ += embedderMilliseconds;
        return ++count_;
    }
    void addSegmenterTime(double milliseconds) {
        std::lock_guard lock(mutex_);
        segmenterTime_ += milliseconds;
    }
    void addTo(PyannoteDiarizationTimings& timings) const {
        std::lock_guard lock(mutex_);
        timings.numberOfChunks += count_;
        timings.segmenterTime += segmenterTime_;
        timings.embedderTime += embedderTime_;
    }

  private:
    mutable std::mutex mutex_;
    std::int64_t count_ = 0;
    double embedderTime_ = 0;
    double segmenterTime_ = 0;
};

std::int64_t embedderWorkers(const std::optional<std::int64_t>& configured, double sliceSeconds) {
    if (configured)
        return std::max<std::int64_t>(*configured, 1); // none would leave the chunks unembedded
    return std::clamp<std::int64_t>(static_cast<std::int64_t>(sliceSeconds / 30.0), 2, 8);
}

std::string clipsText(const std::vector<SeekClip>& clips) {
    std::string text = "[";
    for (std::size_t i = 0; i < clips.size(); ++i)
        text += (i ? ", " : "") + std::string("(start: ") + std::to_string(clips[i].start) +
                ", end: " + std::to_string(clips[i].end) + ")";
    return text + "]";
}

} // namespace

const velnote::platform::Clock& PyannoteDiarizerActor::defaultClock() {
    return velnote::platform::SystemClock::shared();
}

PyannoteDiarizerActor::PyannoteDiarizerActor(DiarizerConfig config, const velnote::platform::Clock& clock)
    : config_(std::move(config)), clock_(clock) {}

PyannoteDiarizerActor::~PyannoteDiarizerActor() {
    stopPipeline();
}

double PyannoteDiarizerActor::seconds() const {
    return std::chrono::duration<double>(clock_.now().time_since_epoch()).count();
}

void PyannoteDiarizerActor::stopPipeline() {
    if (pipeline_.joinable()) {
        pipeline_.request_stop();
        pipeline_.join();
    }
    pipelineError_ = nullptr;
}

void PyannoteDiarizerActor::loadModels() {
    auto& segmenter = *config_.segmenterModel;
    auto& embedder = *config_.embedderModel;
    if (segmenter.modelState() == basalith::ModelState::loaded &&
        embedder.modelState() == basalith::ModelState::loaded) {
        timings_.modelLoading = modelLoadTime_;
        return;
    }
    const double t0 = seconds();
    if (segmenter.modelState() != basalith::ModelState::loaded)
        segmenter.loadModel(false);
    if (embedder.modelState() != basalith::ModelState::loaded)
        embedder.loadModel(false);
    checkModelGeometry(segmenter, embedder);
    modelLoadTime_ = (seconds() - t0) * 1000.0;
    timings_.modelLoading = modelLoadTime_;
}

std::vector<SeekClip>
PyannoteDiarizerActor::prepareSeekClips(std::int64_t contentFrames,
                                        const PyannoteDiarizationOptions* options) const {
    std::vector<std::int64_t> points;
    for (float time : options ? options->clipTimestamps : std::vector<float>{}) {
        const float sample = time * static_cast<float>(kSampleRate);
        if (!std::isfinite(sample) ||
            std::fabs(sample) > static_cast<float>(std::numeric_limits<std::int32_t>::max()) * 64)
            throw DiarithError::invalidConfiguration("Clip timestamp " + Logging::toLogText(time) +
                                                     " is not a time within the audio");
        points.push_back(std::lround(sample));
    }
    if (points.empty())
        points.push_back(0);
    if (points.size() % 2 == 1)
        points.push_back(contentFrames);
    std::vector<SeekClip> clips;
    for (std::size_t i = 0; i + 1 < points.size(); i += 2) {
        const SeekClip clip{points[i], points[i + 1]};
        if (clip.start < 0 || clip.start > clip.end || clip.end > contentFrames)
            throw DiarithError::invalidConfiguration(
                "Clip from sample " + std::to_string(clip.start) + " to " + std::to_string(clip.end) +
                " is not a range within the audio's " + std::to_string(contentFrames) + " samples");
        clips.push_back(clip);
    }
    return clips;
}

void PyannoteDiarizerActor::reset() {
    stopPipeline();
    config_.clusterer->reset().get();
    timings_ = PyannoteDiarizationTimings{};
}

void PyannoteDiarizerActor::initialize(const std::vector<float>& audioArray,
                                       const PyannoteDiarizationOptions* options,
                                       std::function<void(double)> stageProgress) {
    reset();
    timings_.pipelineStart = seconds();
    loadModels();
    audioLength_ = static_cast<std::int64_t>(audioArray.size());
    const auto clips = prepareSeekClips(audioLength_, options);
    Logging::debug("[PyannoteDiarizer] audioArray: " + std::to_string(audioLength_) +
                   ", seekClips: " + clipsText(clips));
    timings_.numberOfSegmenterWorkers = config_.segmenterModel->concurrentWorkers();
    pipeline_ = std::jthread(
        [this, &audioArray, clips, stageProgress = std::move(stageProgress)](std::stop_token stop) {
            try {
                runPipeline(audioArray, clips, stageProgress, stop);
            } catch (...) {
                pipelineError_ = std::current_exception();
            }
        });
}

void PyannoteDiarizerActor::runPipeline(const std::vector<float>& audio, const std::vector<SeekClip>& clips,
                                        const std::function<void(double)>& stageProgress,
                                        const std::stop_token& stop) {
    ProgressReporter stage([&stageProgress](const DiarizationProgress& p) {
        if (stageProgress)
            stageProgress(p.fractionCompleted());
    });
    double totalSeconds = 0;
    for (const auto& clip : clips)
        totalSeconds += static_cast<double>(clip.end - clip.start) / kSampleRate;
    double processedSeconds = 0;
    const auto& segmenter = *config_.segmenterModel;
    const auto& embedder = *config_.embedderModel;
    Clusterer& clusterer = *config_.clusterer;

    for (const auto& clip : clips) {
        velnote::platform::throwIfCancelled(stop);
        const bool whole = clip.start == 0 && clip.end == static_cast<std::int64_t>(audio.size());
        const std::vector<float> copy =
            whole ? std::vector<float>{}
                  : std::vector<float>(audio.begin() + clip.start, audio.begin() + clip.end);
        const std::vector<float>& slice = whole ? audio : copy;
        const double sliceSeconds = static_cast<double>(slice.size()) / kSampleRate;
        // Windows are numbered from the clip's start; the frame grid starts at the buffer's.
        const auto clipOffset =
            static_cast<std::int64_t>(std::llround(static_cast<double>(clip.start) / kSampleRate));
        const std::int64_t chunkCount =
            std::max<std::int64_t>(segmenter.maxChunks(static_cast<std::int64_t>(slice.size())), 1);
        const std::int64_t workers = embedderWorkers(config_.concurrentEmbedderWorkers, sliceSeconds);
        {
            std::lock_guard lock(timingsMutex_);
            timings_.inputAudioSeconds += sliceSeconds;
            timings_.numberOfEmbedderWorkers = workers;
        }

        SegmenterOutputQueue outputs;
        BatchCounter counter;
        WorkerGroup group(stop);
        for (std::int64_t w = 0; w < workers; ++w) {
            group.add([&](std::stop_token token) {
                while (auto output = outputs.take(token)) {
                    const double t0 = seconds();
                    try {
                        auto records = embedder.embed(*output);
                        for (auto& record : records)
                            record.windowIndex += clipOffset;
                        if (!records.empty())
                            clusterer.add(std::move(records)).get();
                    } catch (const std::exception& error) {
                        Logging::error(std::string("[PyannoteDiarizer] Error processing embeddings: ") +
                                       error.what());
                        throw;
                    }
                    const std::int64_t n = counter.add((seconds() - t0) * 1000.0);
                    const double f = (processedSeconds + sliceSeconds * static_cast<double>(n) /
                                                             static_cast<double>(chunkCount)) /
                                     std::max(totalSeconds, 1.0);
                    stage.raiseTo(f <= 0 ? 0 : static_cast<std::int64_t>(std::min(f, 0.99) * 100.0));
                }
            });
        }
        group.add([&](std::stop_token token) {
            const double t0 = seconds();
            segmenter.predict(slice, outputs, 0, token);
            counter.addSegmenterTime((seconds() - t0) * 1000.0);
        });
        group.wait();
        velnote::platform::throwIfCancelled(stop);
        {
            std::lock_guard lock(timingsMutex_);
            counter.addTo(timings_);
        }
        processedSeconds += sliceSeconds;
    }
    if (stage.completed() <= 99)
        stage.set(100);
}

DiarizationResult PyannoteDiarizerActor::clusterSpeakers(Clusterer& clusterer,
                                                         const PyannoteDiarizationOptions* options,
                                                         const std::function<void(double)>& stageProgress) {
    ProgressReporter stage([&stageProgress](const DiarizationProgress& p) {
        if (stageProgress)
            stageProgress(p.fractionCompleted());
    });
    stage.set(0);
    if (pipeline_.joinable()) {
        pipeline_.join();
        if (auto error = std::exchange(pipelineError_, nullptr))
            std::rethrow_exception(error);
    }
    stage.set(50);

    if (!clusterer.isEqual(*config_.clusterer))
        clusterer.add(config_.clusterer->speakerEmbeddings().get()).get();
    const double t0 = seconds();
    const PyannoteDiarizationOptions defaults;
    const PyannoteDiarizationOptions& opts = options ? *options : defaults;
    const ClusteringResult clustered = clusterer.update(clusterer.clusteringConfig(opts)).get();
    timings_.numberOfEmbeddings = static_cast<std::int64_t>(clustered.speakerEmbeddings.size());
    timings_.clusteringTime = (seconds() - t0) * 1000.0;
    stage.set(80);

    DiarizationResult diarization =
        postProcess(clustered.speakerEmbeddings, audioLength_, opts.useExclusiveReconciliation);
    timings_.numberOfSpeakers = diarization.speakerCount();
    timings_.fullPipeline = (seconds() - timings_.pipelineStart) * 1000.0;
    Logging::debug(timings_.debugDescription());
    diarization.setTimings(std::make_shared<const PyannoteDiarizationTimings>(timings_));
    stage.set(100);
    return diarization;
}

DiarizationResult PyannoteDiarizerActor::diarize(const std::vector<float>& audioArray,
                                                 const DiarizationOptions* options,
                                                 const DiarizationProgressCallback& progressCallback) {
    std::lock_guard lock(running_);
    const auto* opts = dynamic_cast<const PyannoteDiarizationOptions*>(options);
    std::shared_ptr<ProgressReporter> overall;
    std::function<void(double)> embeddingRelay, clusteringRelay;
    if (progressCallback) {
        overall = std::make_shared<ProgressReporter>(progressCallback);
        overall->report();
        embeddingRelay = [overall](double f) { overall->raiseTo(static_cast<std::int64_t>(f * 85.0)); };
        clusteringRelay = [overall](double f) { overall->raiseTo(85 + static_cast<std::int64_t>(f * 15.0)); };
    }
    try {
        initialize(audioArray, opts, embeddingRelay);
        DiarizationResult result = clusterSpeakers(*config_.clusterer, opts, clusteringRelay);
        if (opts && opts->minActiveOffset)
            result.updateSegments(*opts->minActiveOffset);
        return result;
    } catch (...) {
        stopPipeline(); // the pipeline must not outlive the caller's audio
        throw;
    }
}

PyannoteDiarizer::PyannoteDiarizer(std::shared_ptr<PyannoteModelLoader> loader,
                                   std::shared_ptr<basalith::ModelDownloader> downloader,
                                   DiarizerConfig config)
    : loader_(std::move(loader)), downloader_(std::move(downloader)), actor_(std::move(config)) {}

std::optional<std::filesystem::path> PyannoteDiarizer::modelFolder() const {
    if (const auto folder = loader_->modelFolder())
        return std::filesystem::path(*folder);
    return std::nullopt;
}

basalith::ModelState PyannoteDiarizer::modelState() const {
    return loader_->models() ? basalith::ModelState::loaded : basalith::ModelState::unloaded;
}

void PyannoteDiarizer::downloadModels() {
    downloadModels({});
}

void PyannoteDiarizer::downloadModels(const basalith::ProgressCallback& progress) {
    loader_->resolveModels(*downloader_, progress, {});
}

void PyannoteDiarizer::loadModels() {
    loader_->load(loader_->resolveModels(*downloader_, {}, {}), false);
}

void PyannoteDiarizer::unloadModels() {
    loader_->unload();
}

DiarizationResult PyannoteDiarizer::diarize(const std::vector<float>& audioArray,
                                            const DiarizationOptions* options,
                                            const DiarizationProgressCallback& progressCallback) {
    return actor_.diarize(audioArray, options, progressCallback);
}

std::shared_ptr<PyannoteDiarizer> PyannoteModelLoader::makeDiarizer() {
    const auto loaded = models();
    if (!loaded)
        throw DiarithError::modelUnavailable("Pyannote models are not loaded");
    DiarizerConfig config{.segmenterModel = loaded->segmenter,
                          .embedderModel = loaded->embedder,
                          .clusterer = std::make_shared<VBxClustering>(loaded->betweenClassCovariance),
                          .concurrentEmbedderWorkers = config_.concurrentEmbedderWorkers,
                          .models = loaded};
    return std::make_shared<PyannoteDiarizer>(
        shared_from_this(), std::make_shared<basalith::ModelDownloader>(config_.modelDownloadConfig),
        std::move(config));
}

} // namespace diarith
