#pragma once

#include "engine/foundation/Logging.h"
#include "engine/foundation/ModelDownloadConfig.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace diarith {

class Diarizer;

// Repository of the engine's models on the model hub.
inline constexpr const char* kDefaultModelRepo = "quorvaneinc/diarith-coreml";

// Where the engine's models come from when the caller names no download configuration.
basalith::ModelDownloadConfig defaultModelDownloadConfig();

// The configuration an engine is built with. Every field may be changed after construction.
class DiarithConfig {
  public:
    // An absent download configuration becomes defaultModelDownloadConfig().
    DiarithConfig(std::optional<basalith::ModelDownloadConfig> modelDownloadConfig, bool download,
                  bool verbose, basalith::Logging::LogLevel logLevel, bool load,
                  std::shared_ptr<Diarizer> diarizer);
    virtual ~DiarithConfig() = default;

    // A diarizer of the caller's own, used instead of the engine's; absent unless given.
    std::shared_ptr<Diarizer> diarizer;
    basalith::ModelDownloadConfig modelDownloadConfig;
    // false silences the shared logger whatever logLevel says.
    bool verbose;
    // The shared logger's level while verbose is true.
    basalith::Logging::LogLevel logLevel;
    // Fetch (or find in the local cache) the models while the engine is built; also the
    // permission to download at all.
    bool download;
    // Load the models while the engine is built.
    bool load;
};

// The configuration of the engine's own pipeline.
class PyannoteConfig final : public DiarithConfig {
  public:
    PyannoteConfig(std::optional<basalith::ModelDownloadConfig> modelDownloadConfig, bool download, bool load,
                   bool verbose, basalith::Logging::LogLevel logLevel, bool fullRedundancy,
                   std::int64_t concurrentSegmenterWorkers,
                   std::optional<std::int64_t> concurrentEmbedderWorkers, std::shared_ptr<Diarizer> diarizer);
    // Builds the download configuration field by field.
    PyannoteConfig(std::optional<std::string> downloadBase, std::string modelRepo,
                   std::optional<std::string> modelToken, std::optional<std::string> modelFolder,
                   bool download, bool useBackgroundDownloadSession, std::string modelEndpoint,
                   std::string downloadRevision, bool load, bool verbose,
                   basalith::Logging::LogLevel logLevel, bool fullRedundancy,
                   std::int64_t concurrentSegmenterWorkers,
                   std::optional<std::int64_t> concurrentEmbedderWorkers, std::shared_ptr<Diarizer> diarizer);

    // The segmenter slides its 30-second window with overlap instead of cutting back-to-back chunks.
    bool fullRedundancy;
    // Segmentation runs in flight at once.
    std::int64_t concurrentSegmenterWorkers;
    // Embedding workers; absent = the pipeline chooses.
    std::optional<std::int64_t> concurrentEmbedderWorkers;
};

} // namespace diarith
