#include "engine/diarization/config/DiarithConfig.h"

#include <utility>

namespace diarith {

basalith::ModelDownloadConfig defaultModelDownloadConfig() {
    return basalith::ModelDownloadConfig{.downloadBase = std::nullopt,
                                         .modelRepo = kDefaultModelRepo,
                                         .modelToken = std::nullopt,
                                         .modelFolder = std::nullopt,
                                         .useBackgroundSession = false,
                                         .endpoint = basalith::kDefaultHubEndpoint,
                                         .revision = "main"};
}

DiarithConfig::DiarithConfig(std::optional<basalith::ModelDownloadConfig> modelDownloadConfig, bool download,
                             bool verbose, basalith::Logging::LogLevel logLevel, bool load,
                             std::shared_ptr<Diarizer> diarizer)
    : diarizer(std::move(diarizer)), modelDownloadConfig(modelDownloadConfig ? std::move(*modelDownloadConfig)
                                                                             : defaultModelDownloadConfig()),
      verbose(verbose), logLevel(logLevel), download(download), load(load) {}

PyannoteConfig::PyannoteConfig(std::optional<basalith::ModelDownloadConfig> modelDownloadConfig,
                               bool download, bool load, bool verbose, basalith::Logging::LogLevel logLevel,
                               bool fullRedundancy, std::int64_t concurrentSegmenterWorkers,
                               std::optional<std::int64_t> concurrentEmbedderWorkers,
                               std::shared_ptr<Diarizer> diarizer)
    : DiarithConfig(std::move(modelDownloadConfig), download, verbose, logLevel, load, std::move(diarizer)),
      fullRedundancy(fullRedundancy), concurrentSegmenterWorkers(concurrentSegmenterWorkers),
      concurrentEmbedderWorkers(concurrentEmbedderWorkers) {}

PyannoteConfig::PyannoteConfig(std::optional<std::string> downloadBase, std::string modelRepo,
                               std::optional<std::string> modelToken, std::optional<std::string> modelFolder,
                               bool download, bool useBackgroundDownloadSession, std::string modelEndpoint,
                               std::string downloadRevision, bool load, bool verbose,
                               basalith::Logging::LogLevel logLevel, bool fullRedundancy,
                               std::int64_t concurrentSegmenterWorkers,
                               std::optional<std::int64_t> concurrentEmbedderWorkers,
                               std::shared_ptr<Diarizer> diarizer)
    : PyannoteConfig(basalith::ModelDownloadConfig{.downloadBase = std::move(downloadBase),
                                                   .modelRepo = std::move(modelRepo),
                                                   .modelToken = std::move(modelToken),
                                                   .modelFolder = std::move(modelFolder),
                                                   .useBackgroundSession = useBackgroundDownloadSession,
                                                   .endpoint = std::move(modelEndpoint),
                                                   .revision = std::move(downloadRevision)},
                     download, load, verbose, logLevel, fullRedundancy, concurrentSegmenterWorkers,
                     concurrentEmbedderWorkers, std::move(diarizer)) {}

} // namespace diarith
