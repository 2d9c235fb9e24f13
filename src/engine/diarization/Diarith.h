#pragma once

#include "engine/diarization/Diarizer.h"
#include "engine/diarization/config/DiarithConfig.h"
#include "engine/diarization/loader/PyannoteModelLoader.h"
#include "engine/diarization/rttm/RTTMLine.h"
#include "engine/foundation/ModelDownloader.h"
#include "engine/foundation/ModelManager.h"

#include <functional>
#include <memory>
#include <stop_token>

namespace diarith {

// The engine's own diarizer: the model manager's life cycle over the Pyannote model loader, and a
// diarize operation that builds a fresh pipeline around the loaded models for every call.
class DiarithDiarizer final : public basalith::ModelManager, public Diarizer {
  public:
    using DiarizeOperation = std::function<DiarizationResult(
        const std::vector<float>&, const DiarizationOptions*, const DiarizationProgressCallback&)>;

    // Without an operation the loader must be a PyannoteModelLoader (std::invalid_argument
    // otherwise); the default operation is bound to it.
    DiarithDiarizer(std::shared_ptr<basalith::ModelLoader> loader,
                    std::shared_ptr<basalith::ModelDownloader> downloader, DiarizeOperation diarize = {});

    // A diarizer over a new PyannoteModelLoader with no models, and the given downloader or a new
    // one over the configuration's download settings.
    static std::shared_ptr<DiarithDiarizer>
    pyannote(const PyannoteConfig& config, basalith::ModelInfo segmenterModelInfo,
             basalith::ModelInfo embedderModelInfo, basalith::ModelInfo pldaModelInfo,
             std::shared_ptr<basalith::ModelDownloader> downloader = nullptr);

    std::optional<std::filesystem::path> modelFolder() const override { return ModelManager::modelFolder(); }
    basalith::ModelState modelState() const override { return ModelManager::modelState(); }
    void downloadModels() override { ModelManager::downloadModels(); }
    void downloadModels(const basalith::ProgressCallback& progress,
                        const std::stop_token& stop = {}) override {
        ModelManager::downloadModels(progress, stop);
    }
    void loadModels() override { ModelManager::loadModels(); }
    void unloadModels() override { ModelManager::unloadModels(); }
    DiarizationResult diarize(const std::vector<float>& audioArray, const DiarizationOptions* options,
                              const DiarizationProgressCallback& progressCallback) override;

  private:
    DiarizeOperation diarize_;
};

// The diarization engine: one diarizer (the engine's own unless the configuration brings one),
// optionally downloaded and loaded while the engine is built. Calls block; concurrent diarizations
// share the loaded models, and the first of them to need the models loads them for all.
class Diarith {
  public:
    // Sets the shared logger's level (the configured one when verbose, else none), picks the
    // diarizer, then downloads and loads as configured. Throws
    // DiarithError::invalidConfiguration("Config must be PyannoteConfig or provide custom
    // diarizer"), or the download or load error.
    explicit Diarith(const DiarithConfig& config);

    const std::shared_ptr<Diarizer>& diarizer() const { return diarizer_; }
    void setDiarizer(std::shared_ptr<Diarizer> diarizer) { diarizer_ = std::move(diarizer); }

    // For a diarizer that is a model manager: downloads and loads once for all concurrent callers.
    void ensureModelsLoaded(const std::stop_token& stop = {});
    void unloadModels();
    // 16 kHz mono samples. The callback is called from the pipeline's threads.
    DiarizationResult diarize(const std::vector<float>& audioArray,
                              const DiarizationOptions* options = nullptr,
                              const DiarizationProgressCallback& progressCallback = {});

    static std::vector<RTTMLine>
    generateRTTM(const DiarizationResult& result, const SpeakerInfoStrategy& strategy,
                 const std::optional<std::vector<vocalith::TranscriptionResultPtr>>& transcription,
                 const std::string& fileName) {
        return diarith::generateRTTM(result, strategy, transcription, fileName);
    }

  private:
    std::shared_ptr<Diarizer> diarizer_;
};

} // namespace diarith
