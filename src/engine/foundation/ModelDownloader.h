#pragma once

#include "engine/foundation/DownloadProgress.h"
#include "engine/foundation/HubClient.h"
#include "engine/foundation/ModelDownloadConfig.h"
#include "engine/foundation/ModelDownloaderError.h"
#include "engine/foundation/ModelInfo.h"
#include "engine/foundation/ModelState.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace basalith {

// Finds an engine's models on the local disk and fetches what is missing from the model hub.
//
// Immutable after construction, so one downloader may serve any number of threads; it takes no
// lock of its own. Two downloads of one repository at once (threads or processes) share the work
// file by file through the hub client's lock files; the model manager also coalesces its own
// loads. Every operation that needs the hub makes a short-lived HubClient. Operations block their
// thread; the local checks never touch the network. A stop request on an operation's stop token
// ends it with HubError (Kind::cancelled), the configuration's idleLimit ends a stalled transfer.
//
// Repository, model and file names become paths: one that would leave its folder (absolute, "..",
// NUL) is refused with HubError (Kind::invalidName) before anything is touched.
//
// `downloadBase` arguments override the configuration's; absent = the configuration's, else the
// hub client's default.
class ModelDownloader {
  public:
    using StateCallback = std::function<void(ModelState)>;

    explicit ModelDownloader(ModelDownloadConfig config);
    ModelDownloader(std::string endpoint, std::string repoName, std::optional<std::string> modelToken,
                    std::string revision, bool useBackgroundSession);
    virtual ~ModelDownloader() = default;

    const ModelDownloadConfig& config() const { return config_; }

    // The folder where the repository's files live under the effective base.
    virtual std::filesystem::path
    localRepoLocation(const std::optional<std::filesystem::path>& downloadBase = std::nullopt) const;

    // The repository folder once every pattern's models are complete there: from the local cache
    // without any request when they already are, else by downloading all `patterns` when `download`
    // is true. Throws ModelDownloaderError (download off and something missing) or HubError.
    virtual std::filesystem::path resolveRepo(const std::vector<std::string>& patterns,
                                              const std::optional<std::filesystem::path>& downloadBase,
                                              bool download, const ProgressCallback& progress = {},
                                              const std::stop_token& stop = {}) const;

    // Fetches the files of one model and returns the repository folder. With useOfflineMode true,
    // only the local cache is consulted and an empty match throws ModelDownloaderError.
    virtual std::filesystem::path downloadModel(const ModelInfo& modelInfo,
                                                const std::optional<std::filesystem::path>& downloadBase,
                                                std::optional<bool> useOfflineMode = std::nullopt,
                                                const std::stop_token& stop = {}) const;

    // The model file `fileName` of `modelInfo`: from `modelFolder` (or the configuration's), else
    // the local cache, else a download when `download` is true. The state callback hears
    // `downloading` before a download and `downloaded` when the file came from cache or hub.
    virtual std::filesystem::path resolveModel(const std::string& fileName, const ModelInfo& modelInfo,
                                               const std::optional<std::filesystem::path>& modelFolder,
                                               const std::optional<std::filesystem::path>& downloadBase,
                                               bool download, const StateCallback& stateCallback = {},
                                               const std::stop_token& stop = {}) const;
    virtual std::string resolveModelPath(const std::string& fileName, const ModelInfo& modelInfo,
                                         const std::optional<std::filesystem::path>& modelFolder,
                                         const std::optional<std::filesystem::path>& downloadBase,
                                         bool download, const StateCallback& stateCallback = {},
                                         const std::stop_token& stop = {}) const;

    // The hub's file names matching the patterns at the configured revision.
    virtual std::vector<std::string> fetchFilenames(const std::vector<std::string>& patterns,
                                                    const std::optional<std::filesystem::path>& downloadBase,
                                                    const std::stop_token& stop = {}) const;

    // The model file for `fileName` in `folder` when it exists.
    virtual std::optional<std::filesystem::path> modelURLIfExists(const std::filesystem::path& folder,
                                                                  const std::string& fileName) const;

  private:
    std::optional<std::filesystem::path>
    effectiveDownloadBase(const std::optional<std::filesystem::path>& downloadBase) const;
    HubClient makeClient(const std::optional<std::filesystem::path>& downloadBase,
                         std::optional<bool> offline = std::nullopt) const;
    static bool patternsExistLocally(const std::vector<std::string>& patterns,
                                     const std::filesystem::path& folder);

    const ModelDownloadConfig config_;
};

} // namespace basalith
