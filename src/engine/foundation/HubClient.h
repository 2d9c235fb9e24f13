#pragma once

#include "engine/foundation/DownloadProgress.h"
#include "engine/foundation/HubError.h"
#include "engine/foundation/ModelDownloadConfig.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace basalith {

struct HubClientOptions {
    // Root of the local cache; absent = HubClient::defaultDownloadBase().
    std::optional<std::filesystem::path> downloadBase;
    // Sent as "Authorization: Bearer <token>".
    std::optional<std::string> token;
    // Base address of the hub, without a trailing slash needed.
    std::string endpoint = kDefaultHubEndpoint;
    // Accepted for callers that ask for it; transfers always run in this process.
    bool useBackgroundSession = false;
    // True: never contact the hub; listings and snapshots answer from the local cache.
    bool offline = false;
};

// A small client of a model hub, over libcurl. Stateless apart from its options, so one client may
// serve several threads; every call blocks its thread while it works.
//
// Protocol (any server with these two endpoints will do, such as a fake one in tests):
//   GET <endpoint>/api/models/<owner>/<name>/revision/<revision>
//       -> {"siblings": [{"rfilename": "<path in the repository>"}, ...]}
//   GET <endpoint>/<owner>/<name>/resolve/<revision>/<path>   -> the file's bytes; a Range header
//       continues an interrupted file (206), a server without ranges answers 200 and it restarts.
//
// Cache layout: the files of repository owner/name lie at their repository paths below
// <downloadBase>/models/owner/name/. A file is written as "<path>.incomplete" and renamed to its
// path only once every byte has arrived, so a file under its own name is always complete. A
// snapshot first creates an ".incomplete" placeholder for every file it still needs, so a folder
// that holds any ".incomplete" file is known to be partly downloaded even between two files.
class HubClient {
  public:
    static constexpr const char* kIncompleteSuffix = ".incomplete";

    explicit HubClient(HubClientOptions options = {});

    // $HOME/Documents/huggingface, where the model window also looks for downloaded repositories.
    static std::filesystem::path defaultDownloadBase();

    // <downloadBase>/models/<repo>; the same for every call, whether or not anything is there.
    std::filesystem::path localRepoLocation(const std::string& repo) const;

    // Repository paths of the files at `revision` that match any of `patterns` (globs where "*"
    // also crosses "/"; no patterns = every file), in the hub's order. Offline: the complete files
    // present locally, sorted. Throws HubError.
    std::vector<std::string> listFiles(const std::string& repo, const std::string& revision,
                                       const std::vector<std::string>& patterns) const;

    // Makes every file that matches a pattern present locally and returns localRepoLocation(repo).
    // Files already complete are not fetched again; interrupted ones continue where they stopped.
    // Offline: fetches nothing. Throws HubError; what was written so far stays for the next call.
    std::filesystem::path snapshot(const std::string& repo, const std::string& revision,
                                   const std::vector<std::string>& patterns,
                                   const ProgressCallback& progress = {}) const;

  private:
    std::vector<std::string> listRemoteFiles(const std::string& repo, const std::string& revision) const;
    std::vector<std::string> listLocalFiles(const std::string& repo) const;
    void downloadFile(const std::string& url, const std::filesystem::path& target, DownloadProgress& progress,
                      const ProgressCallback& report) const;

    HubClientOptions options_;
};

// True when `path` matches one of `patterns`, or `patterns` is empty.
bool matchesAnyPattern(const std::string& path, const std::vector<std::string>& patterns);

} // namespace basalith
