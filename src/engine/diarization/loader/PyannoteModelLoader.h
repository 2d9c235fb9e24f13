#pragma once

#include "engine/diarization/config/DiarithConfig.h"
#include "engine/diarization/embedding/SpeakerEmbedderModel.h"
#include "engine/diarization/segmentation/SpeakerSegmenterModel.h"
#include "engine/foundation/ModelInfo.h"
#include "engine/foundation/ModelLoader.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace diarith {

class PyannoteDiarizer;

// The engine's three models in the repository: <name>/<version>/<variant>/.
basalith::ModelInfo segmenterModelInfo(std::optional<std::string> version = std::nullopt,
                                       std::optional<std::string> variant = std::nullopt,
                                       basalith::ComputeUnits computeUnits = basalith::ComputeUnits::cpuOnly);
basalith::ModelInfo
embedderModelInfo(std::optional<std::string> version = std::nullopt,
                  std::optional<std::string> variant = std::nullopt,
                  basalith::ComputeUnits computeUnits = basalith::ComputeUnits::cpuAndNeuralEngine);
basalith::ModelInfo pldaModelInfo();

// A loaded model set.
class DiarithModels {
  public:
    virtual ~DiarithModels() = default;
    virtual std::vector<basalith::ModelInfo> modelInfos() const = 0;
};

// The loaded segmentation and embedding models (with the embedder's preprocessor and PLDA
// projection), shared by every diarization while loaded.
struct PyannoteModels final : DiarithModels {
    PyannoteModels(std::shared_ptr<SpeakerSegmenterModel> segmenter,
                   std::shared_ptr<SpeakerEmbedderModel> embedder, PyannoteConfig config,
                   basalith::ModelInfo segmenterModelInfo, basalith::ModelInfo embedderModelInfo,
                   basalith::ModelInfo pldaModelInfo, std::vector<float> betweenClassCovariance)
        : segmenter(std::move(segmenter)), embedder(std::move(embedder)), config(std::move(config)),
          segmenterModelInfo(std::move(segmenterModelInfo)), embedderModelInfo(std::move(embedderModelInfo)),
          pldaModelInfo(std::move(pldaModelInfo)), betweenClassCovariance(std::move(betweenClassCovariance)) {
    }

    std::shared_ptr<SpeakerSegmenterModel> segmenter;
    std::shared_ptr<SpeakerEmbedderModel> embedder;
    PyannoteConfig config;
    basalith::ModelInfo segmenterModelInfo;
    basalith::ModelInfo embedderModelInfo;
    basalith::ModelInfo pldaModelInfo;
    // Φ of the PLDA model, for the clusterer of every diarization.
    std::vector<float> betweenClassCovariance;

    // Segmentation, embedding, PLDA.
    std::vector<basalith::ModelInfo> modelInfos() const override {
        return {segmenterModelInfo, embedderModelInfo, pldaModelInfo};
    }
};

// Throws DiarithError::invalidModelOutput naming the first value of the loaded models' declared
// geometry that would put a window, a frame, a mask row or an embedding row outside its array.
void checkModelGeometry(const SpeakerSegmenterModel& segmenter, const SpeakerEmbedderModel& embedder);

// Finds the engine's models (a local folder, the local cache or the model hub) and loads them.
// The model manager decides when each step runs; the loaded set is read under a lock, so
// diarizations may start from any thread.
class PyannoteModelLoader final : public basalith::ModelLoader,
                                  public std::enable_shared_from_this<PyannoteModelLoader> {
  public:
    PyannoteModelLoader(PyannoteConfig config, basalith::ModelInfo segmenterModelInfo,
                        basalith::ModelInfo embedderModelInfo, basalith::ModelInfo pldaModelInfo);

    const PyannoteConfig& pyannoteConfig() const { return config_; }
    // Null until a load (not a prewarm) succeeds, and after unload().
    std::shared_ptr<const PyannoteModels> models() const;

    std::optional<std::string> modelFolder() const override;
    std::string resolveModels(basalith::ModelDownloader& downloader,
                              const basalith::ProgressCallback& progress,
                              const std::stop_token& stop) override;
    // Builds and loads the wrappers from `folder`; with prewarm only proves they load. Throws the
    // runtime's error for a missing or damaged file, DiarithError::invalidModelOutput for a
    // geometry the pipeline cannot use; the loaded set is unchanged then.
    void load(const std::string& folder, bool prewarm) override;
    void unload() noexcept override;

    // A new pipeline over the loaded set with a new clusterer (the loader must be owned by a
    // shared pointer). Throws
    // DiarithError::modelUnavailable("Pyannote models are not loaded") without one.
    std::shared_ptr<PyannoteDiarizer> makeDiarizer();

  private:
    const PyannoteConfig config_;
    const basalith::ModelInfo segmenterModelInfo_;
    const basalith::ModelInfo embedderModelInfo_;
    const basalith::ModelInfo pldaModelInfo_;
    mutable std::mutex mutex_;
    std::shared_ptr<const PyannoteModels> models_;
};

} // namespace diarith
