#include "engine/diarization/loader/PyannoteModelLoader.h"

#include "engine/diarization/DiarithError.h"
#include "engine/diarization/segmentation/ModelGeometry.h"
#include "engine/foundation/Logging.h"
#include "engine/foundation/ModelDownloader.h"
#include "engine/foundation/ModelUtilities.h"

#include <cmath>

namespace diarith {
namespace {

using basalith::Logging;
using basalith::ModelUtilities;

// This system stands where the newest variants run.
constexpr const char* kSegmenterVariant = "W8A16";
constexpr const char* kEmbedderVariant = "W8A16";

std::vector<std::int64_t> shapeOr(std::optional<std::vector<std::int64_t>> shape, std::size_t rank) {
    return shape.value_or(std::vector<std::int64_t>(rank, 0));
}

} // namespace

basalith::ModelInfo segmenterModelInfo(std::optional<std::string> version, std::optional<std::string> variant,
                                       basalith::ComputeUnits computeUnits) {
    return {.version = version.value_or("pyannote-v3"),
            .variant = variant.value_or(kSegmenterVariant),
            .name = "speaker_segmenter",
            .computeUnits = computeUnits};
}

basalith::ModelInfo embedderModelInfo(std::optional<std::string> version, std::optional<std::string> variant,
                                      basalith::ComputeUnits computeUnits) {
    return {.version = version.value_or("pyannote-v3"),
            .variant = variant.value_or(kEmbedderVariant),
            .name = "speaker_embedder",
            .computeUnits = computeUnits};
}

basalith::ModelInfo pldaModelInfo() {
    return {.version = "pyannote-v4",
            .variant = "W32A32",
            .name = "speaker_clusterer",
            .computeUnits = basalith::ComputeUnits::cpuOnly};
}

void checkModelGeometry(const SpeakerSegmenterModel& segmenter, const SpeakerEmbedderModel& embedder) {
    const auto segmenterModel = segmenter.model();
    const auto embedderModel = embedder.model();
    const auto* segmenterDescription = segmenterModel ? &segmenterModel->description() : nullptr;
    const auto* embedderDescription = embedderModel ? &embedderModel->description() : nullptr;
    const auto windows = shapeOr(outputShape(segmenterDescription, "sliding_window_waveform", 3), 3);
    const auto ids = shapeOr(outputShape(segmenterDescription, "speaker_ids", 3), 3);
    const auto masks =
        anyInputShape(embedderDescription, "speaker_masks").value_or(std::vector<std::int64_t>{});
    const auto rows = shapeOr(outputShape(embedderDescription, "speaker_embeddings", 3), 3);
    const WindowGeometry geometry{.windowsCount = windows[0],
                                  .framesPerWindow = ids[1],
                                  .speakers = ids[2],
                                  .secondsPerWindow = segmenter.windowsLength(),
                                  .secondsPerChunk = 30.0f};
    geometry.check(masks.size() >= 2 ? masks[1] : 0, masks.size() >= 3 ? masks[2] : 0, rows[1]);

    const auto waveform = inputShape(segmenterDescription, "waveform", 1);
    if (waveform) {
        const float l = static_cast<float>(windows[2]), n = static_cast<float>((*waveform)[0]);
        const float offset = l - (n - l) / static_cast<float>(windows[0] - 1);
        if (!std::isfinite(offset) ||
            std::fabs(offset) >= static_cast<float>(SpeakerSegmenterModel::kChunkSamples))
            throw DiarithError::invalidModelOutput("Invalid model geometry: stride offset " +
                                                   Logging::toLogText(offset) + " samples");
    }
}

PyannoteModelLoader::PyannoteModelLoader(PyannoteConfig config, basalith::ModelInfo segmenterModelInfo,
                                         basalith::ModelInfo embedderModelInfo,
                                         basalith::ModelInfo pldaModelInfo)
    : config_(std::move(config)), segmenterModelInfo_(std::move(segmenterModelInfo)),
      embedderModelInfo_(std::move(embedderModelInfo)), pldaModelInfo_(std::move(pldaModelInfo)) {}

std::shared_ptr<const PyannoteModels> PyannoteModelLoader::models() const {
    std::lock_guard lock(mutex_);
    return models_;
}

std::optional<std::string> PyannoteModelLoader::modelFolder() const {
    return config_.modelDownloadConfig.modelFolder;
}

std::string PyannoteModelLoader::resolveModels(basalith::ModelDownloader& downloader,
                                               const basalith::ProgressCallback& progress,
                                               const std::stop_token& stop) {
    if (const auto folder = modelFolder()) {
        Logging::info("[Diarith] Using local models from: " + *folder);
        return *folder;
    }
    const std::vector<std::string> patterns{segmenterModelInfo_.downloadPattern(),
                                            embedderModelInfo_.downloadPattern(),
                                            pldaModelInfo_.downloadPattern()};
    std::optional<std::filesystem::path> base;
    if (config_.modelDownloadConfig.downloadBase)
        base = *config_.modelDownloadConfig.downloadBase;
    return downloader.resolveRepo(patterns, base, config_.download, progress, stop).string();
}

void PyannoteModelLoader::load(const std::string& folder, bool prewarm) {
    const auto segmenterFolder = segmenterModelInfo_.modelURL(folder);
    const auto embedderFolder = embedderModelInfo_.modelURL(folder);
    const auto pldaFolder = pldaModelInfo_.modelURL(folder);
    auto segmenter = std::make_shared<SpeakerSegmenterModel>(
        ModelUtilities::detectModelURL(segmenterFolder, "SpeakerSegmenter"),
        config_.concurrentSegmenterWorkers, config_.fullRedundancy, segmenterModelInfo_.computeUnits);
    auto embedder = std::make_shared<SpeakerEmbedderModel>(
        ModelUtilities::detectModelURL(embedderFolder, "SpeakerEmbedder"),
        ModelUtilities::detectModelURL(embedderFolder, "SpeakerEmbedderPreprocessor"),
        ModelUtilities::detectModelURL(pldaFolder, "PldaProjector"), embedderModelInfo_.computeUnits);
    segmenter->loadModel(prewarm);
    embedder->loadModel(prewarm);
    if (prewarm)
        return;
    checkModelGeometry(*segmenter, *embedder);
    const auto phi = embedder->pldaModel()->betweenClassCovariance();
    if (!phi || phi->size() != 128)
        throw DiarithError::invalidModelOutput("The PLDA model holds " +
                                               std::to_string(phi ? phi->size() : 0) +
                                               " between-class covariance values, the clustering needs 128");
    auto loaded = std::make_shared<const PyannoteModels>(segmenter, embedder, config_, segmenterModelInfo_,
                                                         embedderModelInfo_, pldaModelInfo_, *phi);
    std::lock_guard lock(mutex_);
    models_ = std::move(loaded);
}

void PyannoteModelLoader::unload() noexcept {
    std::shared_ptr<const PyannoteModels> released;
    {
        std::lock_guard lock(mutex_);
        released.swap(models_);
    }
    if (released) {
        released->segmenter->unloadModel();
        released->embedder->unloadModel();
    }
}

} // namespace diarith
