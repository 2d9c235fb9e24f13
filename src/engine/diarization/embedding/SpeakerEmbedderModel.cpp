#include "engine/diarization/embedding/SpeakerEmbedderModel.h"

#include "engine/diarization/DiarithError.h"
#include "engine/diarization/segmentation/ModelGeometry.h"
#include "engine/foundation/Logging.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace diarith {

using basalith::Logging;
using basalith::MultiArray;
using basalith::MultiArrayDataType;

struct SpeakerEmbedderModel::Held {
    std::shared_ptr<velnote::platform::ml::Model> embedder;
    std::shared_ptr<velnote::platform::ml::Model> preprocessor;
    std::shared_ptr<velnote::platform::ml::Model> plda; // null without a PLDA wrapper or when unloaded
    bool pldaWrapper = false;
};

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void missingSegmenterOutput() {
    throw DiarithError::invalidModelOutput("Missing required segmenter model output");
}

const MultiArray& requireOutput(const SpeakerSegmenterOutput& output, const char* name, std::size_t rank) {
    const MultiArray* value = output.featureValue(name);
    if (!value || value->shape().size() != rank)
        missingSegmenterOutput();
    return *value;
}

// The three activity arrays must describe the same W windows, F frames and S speakers.
void requireAgreement(const MultiArray& activity, const MultiArray& ids, const MultiArray& overlapped,
                      std::int64_t windows) {
    const auto& a = activity.shape();
    const auto& i = ids.shape();
    const auto& o = overlapped.shape();
    if (a[0] != windows || i[0] != windows || o[0] != windows || i[2] != a[1] || o[1] != i[1])
        throw DiarithError::invalidModelOutput(
            "Segmenter outputs disagree: speaker_activity " + shapeText(a) + ", speaker_ids " + shapeText(i) +
            ", overlapped_speaker_activity " + shapeText(o) + ", " + std::to_string(windows) + " windows");
}

// Emits the chunk's timing line when the embedding ends, however it ends.
class TimingLine {
  public:
    explicit TimingLine(std::int64_t chunkIndex) : chunkIndex_(chunkIndex) {}
    ~TimingLine() {
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start_).count();
        char text[64];
        std::snprintf(text, sizeof text, "%.2f ms", ms);
        Logging::debug("[Diarith] Embedder model inference for chunk " + std::to_string(chunkIndex_) +
                       " time: " + text);
    }
    TimingLine(const TimingLine&) = delete;
    TimingLine& operator=(const TimingLine&) = delete;

  private:
    std::int64_t chunkIndex_;
    Clock::time_point start_ = Clock::now();
};

} // namespace

float SpeakerEmbedderContext::speakerId(std::int64_t w, std::int64_t f, std::int64_t s) const {
    return speakerIds[static_cast<std::size_t>((w * geometry.framesPerWindow + f) * geometry.speakers + s)];
}

float SpeakerEmbedderContext::overlap(std::int64_t w, std::int64_t f) const {
    return overlappedSpeakerActivity[static_cast<std::size_t>(w * geometry.framesPerWindow + f)];
}

std::vector<std::int64_t> SpeakerEmbedderContext::activeSpeakerIndices(std::int64_t w) const {
    std::vector<std::int64_t> active;
    const float frame = geometry.frameDuration();
    for (std::int64_t s = 0; s < geometry.speakers; ++s) {
        if (speakerActivity[static_cast<std::size_t>(w * geometry.speakers + s)] * frame > 2.0f * frame)
            active.push_back(s);
    }
    return active;
}

float SpeakerEmbedderContext::nonOverlappedFrameRatio(std::int64_t w, std::int64_t s) const {
    const std::int64_t frames = geometry.framesPerWindow;
    if (frames < 1)
        return 0.0f;
    std::int64_t alone = 0;
    for (std::int64_t f = 0; f < frames; ++f) {
        if (speakerId(w, f, s) != 0.0f && overlap(w, f) == 0.0f)
            ++alone;
    }
    return static_cast<float>(alone) / static_cast<float>(frames);
}

SpeakerEmbedderModel::SpeakerEmbedderModel(std::filesystem::path modelURL,
                                           std::filesystem::path preprocessorModelURL,
                                           std::optional<std::filesystem::path> pldaModelURL,
                                           basalith::ComputeUnits computeUnits)
    : held_(std::move(modelURL), computeUnits), preprocessor_(std::move(preprocessorModelURL)) {
    if (pldaModelURL)
        plda_.emplace(std::move(*pldaModelURL));
}

void SpeakerEmbedderModel::loadModel(bool prewarmMode) {
    if (plda_)
        plda_->loadModel(prewarmMode);
    preprocessor_.loadModel(prewarmMode);
    held_.load(prewarmMode);
}

void SpeakerEmbedderModel::unloadModel() {
    if (plda_)
        plda_->unloadModel();
    preprocessor_.unloadModel();
    held_.unload();
}

std::int64_t SpeakerEmbedderModel::speakerDimensionForMasks() const {
    const auto held = model();
    const auto shape = anyInputShape(held ? &held->description() : nullptr, "speaker_masks");
    if (shape && shape->size() >= 2)
        return (*shape)[1];
    Logging::error("Failed to get speaker_masks shape for EmbedderModel");
    return 0;
}

MultiArray SpeakerEmbedderModel::reshapeMultiArray(const MultiArray& array,
                                                   const std::vector<std::int64_t>& shape) {
    std::int64_t count = 1;
    bool valid = !shape.empty();
    for (std::int64_t d : shape) {
        valid = valid && d >= 0 && (d == 0 || count <= array.count() / std::max<std::int64_t>(d, 1));
        count *= valid ? d : 1;
    }
    if (!valid || count != array.count())
        throw DiarithError::invalidModelOutput("Cannot reshape " + shapeText(array.shape()) + " to " +
                                               shapeText(shape));
    // Shares the storage (the view keeps a copy of `array`, which shares its buffer); only an array
    // with strides of its own is copied first.
    auto keep = std::make_shared<MultiArray>(array.isContiguous() ? array : array.contiguousCopy());
    return MultiArray::view(keep->data(), shape, keep->dataType(), {}, keep);
}

std::vector<std::vector<float>> SpeakerEmbedderModel::floatArrays(const MultiArray* array) {
    if (!array) {
        Logging::error("[SpeakerEmbedder] No embeddings to convert to float arrays");
        return {};
    }
    if (array->shape().size() != 3)
        return {};
    const std::int64_t rows = array->shape()[1], length = array->shape()[2];
    const std::vector<float> values = array->toFloatArray();
    std::vector<std::vector<float>> out;
    out.reserve(static_cast<std::size_t>(rows));
    for (std::int64_t r = 0; r < rows; ++r) {
        const auto begin = values.begin() + static_cast<std::ptrdiff_t>(r * length);
        out.emplace_back(begin, begin + static_cast<std::ptrdiff_t>(length));
    }
    return out;
}

std::vector<SpeakerEmbedding>
SpeakerEmbedderModel::embed(const SpeakerSegmenterOutput& segmenterOutput) const {
    Logging::debug("[SpeakerEmbedder] segmenterOutput: " + segmenterOutput.debugDescription());
    Held held{.embedder = model(),
              .preprocessor = preprocessor_.model(),
              .plda = plda_ ? plda_->model() : nullptr,
              .pldaWrapper = plda_.has_value()};
    if (!held.embedder || !held.preprocessor)
        throw DiarithError::modelUnavailable("Speaker embedder model is unavailable");
    const TimingLine timing(segmenterOutput.chunkIndex);

    const MultiArray& windows = requireOutput(segmenterOutput, "sliding_window_waveform", 3);
    const MultiArray& activity = requireOutput(segmenterOutput, "speaker_activity", 2);
    const MultiArray& ids = requireOutput(segmenterOutput, "speaker_ids", 3);
    const MultiArray& overlapped = requireOutput(segmenterOutput, "overlapped_speaker_activity", 2);

    const std::int64_t waveformSize = preprocessor_.waveformSize();
    const std::int64_t windowSamples = windows.shape()[2];
    if (windowSamples >= waveformSize)
        throw DiarithError::invalidModelOutput(
            "SpeakerEmbedderModel requires a per-chunk preprocessor (expected waveform size " +
            std::to_string(waveformSize) + " must exceed sliding window size " +
            std::to_string(windowSamples) + ")");
    requireAgreement(activity, ids, overlapped, segmenterOutput.windowsCount());

    SpeakerEmbedderContext context{.speakerActivity = activity.toFloatArray(),
                                   .speakerIds = ids.toFloatArray(),
                                   .overlappedSpeakerActivity = overlapped.toFloatArray(),
                                   .geometry = {.windowsCount = segmenterOutput.windowsCount(),
                                                .framesPerWindow = ids.shape()[1],
                                                .speakers = activity.shape()[1],
                                                .secondsPerWindow = segmenterOutput.secondsPerWindow(),
                                                .secondsPerChunk = 30.0f},
                                   .chunkStride = segmenterOutput.chunkStride,
                                   .waveformLength = segmenterOutput.waveformLength};
    Logging::debug("Processing chunk " +
                   std::to_string(segmenterOutput.chunkIndex * segmenterOutput.chunkStride));
    auto records = processChunk(held, context, segmenterOutput.chunkIndex, segmenterOutput.audioChunk);
    Logging::debug("[SpeakerEmbedder] Chunk " + std::to_string(segmenterOutput.chunkIndex) + " created " +
                   std::to_string(records.size()) + " embeddings");
    return records;
}

MultiArray SpeakerEmbedderModel::speakerMasks(const SpeakerEmbedderContext& context, std::int64_t maskRows,
                                              std::int64_t chunkIndex) {
    const WindowGeometry& g = context.geometry;
    const std::int64_t s = g.speakers, f = g.framesPerWindow, columns = g.framesPerChunk();
    g.check(maskRows, columns, maskRows);
    MultiArray masks({1, maskRows, columns}, MultiArrayDataType::float16);
    auto* mask = masks.dataAs<basalith::Float16>();
    const auto indices = g.chunkIndices();
    for (std::int64_t window = 0; window < g.windowsCount; ++window) {
        const auto active = context.activeSpeakerIndices(window);
        if (active.empty()) {
            Logging::debug("[SpeakerEmbedder] No active speakers for chunk " + std::to_string(chunkIndex) +
                           " in window " + std::to_string(window) + ", continue");
            continue;
        }
        for (std::int64_t speaker : active) {
            const std::int64_t row = window * s + speaker;
            const auto& columnsOf = indices[static_cast<std::size_t>(window)];
            for (std::int64_t frame = 0; frame < f; ++frame) {
                const float value =
                    context.speakerId(window, frame, speaker) * (1.0f - context.overlap(window, frame));
                mask[row * columns + columnsOf[static_cast<std::size_t>(frame)]] =
                    static_cast<basalith::Float16>(value);
            }
        }
    }
    return masks;
}

std::vector<SpeakerEmbedding> SpeakerEmbedderModel::processChunk(const Held& held,
                                                                 const SpeakerEmbedderContext& context,
                                                                 std::int64_t chunkIndex,
                                                                 const MultiArray& audioChunk) const {
    const WindowGeometry& g = context.geometry;
    const std::int64_t w = g.windowsCount, s = g.speakers, f = g.framesPerWindow;
    const std::int64_t columns = g.framesPerChunk();
    Logging::debug("[SpeakerEmbedder] Processing single chunk " + std::to_string(chunkIndex) + " with " +
                   std::to_string(w) + " windows, " + std::to_string(columns) + " frames per chunk");
    const auto embeddingShape = outputShape(&held.embedder->description(), "speaker_embeddings", 3)
                                    .value_or(std::vector<std::int64_t>{0, 0, 0});
    const std::int64_t maskRows = speakerDimensionForMasks();
    g.check(maskRows, columns, embeddingShape[1]);

    const MultiArray masks = speakerMasks(context, maskRows, chunkIndex);

    const MultiArray waveforms = reshapeMultiArray(audioChunk, {1, audioChunk.shape()[0]});
    const auto preprocessed = held.preprocessor->predict({{"waveforms", waveforms}});
    auto features = preprocessed.find("preprocessor_output_1");
    if (features == preprocessed.end())
        throw DiarithError::invalidModelOutput("Missing required pre embedder model output");
    const auto embedded =
        held.embedder->predict({{"speaker_masks", masks}, {"preprocessor_output_1", features->second}});
    auto embeddingArray = embedded.find("speaker_embeddings");
    const MultiArray* embeddingValue = embeddingArray == embedded.end() ? nullptr : &embeddingArray->second;
    const auto rows = floatArrays(embeddingValue);

    std::vector<std::vector<float>> pldaRows;
    if (held.pldaWrapper && embeddingValue) {
        if (!held.plda)
            throw DiarithError::modelUnavailable("PLDAEmbedderModel not loaded. Call loadModel() first.");
        const auto projected = held.plda->predict({{"embeddings", *embeddingValue}});
        auto found = projected.find("plda_embeddings");
        pldaRows = floatArrays(found == projected.end() ? nullptr : &found->second);
    }

    std::vector<SpeakerEmbedding> records;
    const float step = g.windowStep();
    const std::int64_t base = chunkIndex * context.chunkStride;
    for (std::int64_t window = 0; window < w; ++window) {
        if (window > 0 &&
            !(g.secondsPerWindow + static_cast<float>(window) * step < context.waveformLength + step))
            continue;
        const auto active = context.activeSpeakerIndices(window);
        const auto windowIndex =
            base + static_cast<std::int64_t>(std::round(static_cast<float>(window) * step));
        for (std::int64_t speaker : active) {
            const auto row = static_cast<std::size_t>(window * s + speaker);
            if (row >= rows.size())
                throw DiarithError::invalidModelOutput("Invalid model geometry: embedding rows " +
                                                       std::to_string(rows.size()) + " hold no row " +
                                                       std::to_string(row));
            SpeakerEmbedding record;
            record.embedding = rows[row];
            if (row < pldaRows.size())
                record.pldaEmbedding = pldaRows[row];
            for (std::int64_t frame = 0; frame < f; ++frame)
                record.activeFrames.push_back(context.speakerId(window, frame, speaker));
            record.windowIndex = windowIndex;
            record.speakerIndex = speaker;
            record.clusterId = -1;
            record.nonOverlappedFrameRatio = context.nonOverlappedFrameRatio(window, speaker);
            records.push_back(std::move(record));
        }
    }
    Logging::debug("[SpeakerEmbedder] Single chunk " + std::to_string(chunkIndex) + " created " +
                   std::to_string(records.size()) + " embeddings");
    return records;
}

} // namespace diarith
