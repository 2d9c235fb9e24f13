#include "engine/diarization/Diarith.h"

#include "engine/diarization/DiarithError.h"
#include "engine/diarization/pipeline/PyannoteDiarizer.h"
#include "engine/foundation/Logging.h"

#include <stdexcept>

namespace diarith {
namespace {

DiarithDiarizer::DiarizeOperation defaultOperation(const std::shared_ptr<basalith::ModelLoader>& loader) {
    auto pyannote = std::dynamic_pointer_cast<PyannoteModelLoader>(loader);
    if (!pyannote)
        throw std::invalid_argument(
            "DiarithDiarizer without a diarize operation needs a PyannoteModelLoader");
    return [pyannote](const std::vector<float>& audio, const DiarizationOptions* options,
                      const DiarizationProgressCallback& progress) {
        return pyannote->makeDiarizer()->diarizerActor().diarize(audio, options, progress);
    };
}

} // namespace

DiarithDiarizer::DiarithDiarizer(std::shared_ptr<basalith::ModelLoader> loader,
                                 std::shared_ptr<basalith::ModelDownloader> downloader,
                                 DiarizeOperation diarize)
    : ModelManager(loader, std::move(downloader)),
      diarize_(diarize ? std::move(diarize) : defaultOperation(loader)) {}

std::shared_ptr<DiarithDiarizer>
DiarithDiarizer::pyannote(const PyannoteConfig& config, basalith::ModelInfo segmenterModelInfo,
                          basalith::ModelInfo embedderModelInfo, basalith::ModelInfo pldaModelInfo,
                          std::shared_ptr<basalith::ModelDownloader> downloader) {
    auto loader = std::make_shared<PyannoteModelLoader>(
        config, std::move(segmenterModelInfo), std::move(embedderModelInfo), std::move(pldaModelInfo));
    if (!downloader)
        downloader = std::make_shared<basalith::ModelDownloader>(config.modelDownloadConfig);
    return std::make_shared<DiarithDiarizer>(std::move(loader), std::move(downloader));
}

DiarizationResult DiarithDiarizer::diarize(const std::vector<float>& audioArray,
                                           const DiarizationOptions* options,
                                           const DiarizationProgressCallback& progressCallback) {
    return diarize_(audioArray, options, progressCallback);
}

Diarith::Diarith(const DiarithConfig& config) {
    basalith::Logging::shared().setLogLevel(config.verbose ? config.logLevel
                                                           : basalith::Logging::LogLevel::none);
    if (config.diarizer) {
        diarizer_ = config.diarizer;
    } else if (const auto* pyannote = dynamic_cast<const PyannoteConfig*>(&config)) {
        diarizer_ =
            DiarithDiarizer::pyannote(*pyannote, segmenterModelInfo(), embedderModelInfo(), pldaModelInfo());
    } else {
        throw DiarithError::invalidConfiguration("Config must be PyannoteConfig or provide custom diarizer");
    }
    if (config.download)
        diarizer_->downloadModels();
    if (config.load)
        diarizer_->loadModels();
}

void Diarith::ensureModelsLoaded(const std::stop_token& stop) {
    if (auto* manager = dynamic_cast<basalith::ModelManager*>(diarizer_.get()))
        manager->ensureModelsLoaded(stop);
}

void Diarith::unloadModels() {
    diarizer_->unloadModels();
}

DiarizationResult Diarith::diarize(const std::vector<float>& audioArray, const DiarizationOptions* options,
                                   const DiarizationProgressCallback& progressCallback) {
    ensureModelsLoaded();
    return diarizer_->diarize(audioArray, options, progressCallback);
}

} // namespace diarith
