#pragma once

#include "engine/foundation/DownloadProgress.h"
#include "engine/foundation/HubError.h"
#include "engine/foundation/ModelDownloadConfig.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace basalith {

struct HubClientOptions {
    // Root of the local cache; absent = HubClient::defaultDownloadBase().
    std::optional<std::filesystem::path> downloadBase{};
    // Sent as "Authorization: Bearer <token>".
    std::optional<std::string> token{};
    // Base address of the hub, without a trailing slash needed.
    std::string endpoint = kDefaultHubEndpoint;
    // Accepted for callers that ask for it; transfers always run in this process.
    bool useBackgroundSession = false;
    // True: never contact the hub; listings and snapshots answer from the local cache.
    bool offline = false;
    // A transfer (listing or file) that receives no byte for this long fails with Kind::network.
    std::chrono::milliseconds idleLimit = kDefaultIdleLimit;
};

// A small client of a model hub, over libcurl. Stateless apart from its options, so one client may
// serve several threads; every call blocks its thread while it works, and a stop request on the
// call's stop token ends it with HubError (Kind::cancelled).
//
// Protocol (any server with these two endpoints will do, such as a fake one in tests):
//   GET <endpoint>/api/models/<owner>/<name>/revision/<revision>?blobs=true
//       -> {"siblings": [{"rfilename": "<path in the repository>", "size": <bytes, optional>}, ...]}
//   GET <endpoint>/<owner>/<name>/resolve/<revision>/<path>   -> the file's bytes. An interrupted
//       file continues with "Range: bytes=<n>-" and "If-Range: <ETag or Last-Modified of the answer
//       it came from>"; a 206 answer continues it, a 200 answer (the file changed, or the server has
//       no ranges) restarts it.
// Hub names (repository, file paths) must stay inside the cache: absolute paths, "." and ".."
// parts, empty parts and NUL bytes are refused. Listings are capped at kMaxListingBytes.
//
// Cache layout: the files of repository owner/name lie at their repository paths below
// <downloadBase>/models/owner/name/. A file is written as "<path>.incomplete" and renamed to its
// path only once every byte has arrived and its size matches the answer's length and the listing's
// size, so a file under its own name is always complete. A snapshot first creates an ".incomplete"
// placeholder for every file it still needs, so a folder that holds any ".incomplete" file is
// known to be partly downloaded even between two files. "<path>.incomplete.lock" serialises the
// writers of one file across threads and processes and holds the validator of the partial bytes;
// it goes with the ".incomplete" file. A snapshot removes ".incomplete" files whose file is no
// longer listed, or is complete, unless another writer holds them.
class HubClient {
  public:
    static constexpr const char* kIncompleteSuffix = ".incomplete";
    static constexpr const char* kLockSuffix = ".incomplete.lock";
    static constexpr std::size_t kMaxListingBytes = 16 * 1024 * 1024;

    explicit HubClient(HubClientOptions options = {});

    // $HOME/Documents/huggingface, where the model window also looks for downloaded repositories.
    static std::filesystem::path defaultDownloadBase();

    // <downloadBase>/models/<repo>; the same for every call, whether or not anything is there.
    // Throws HubError (invalidName) for a repository name that would leave the cache.
    std::filesystem::path localRepoLocation(const std::string& repo) const;

    // Repository paths of the files at `revision` that match any of `patterns` (globs where "*"
    // also crosses "/"; no patterns = every file), in the hub's order. Offline: the complete files
    // present locally, sorted. Throws HubError.
    std::vector<std::string> listFiles(const std::string& repo, const std::string& revision,
                                       const std::vector<std::string>& patterns,
                                       const std::stop_token& stop = {}) const;

    // Makes every file that matches a pattern present locally and returns localRepoLocation(repo).
    // Files already complete are not fetched again; interrupted ones continue where they stopped;
    // a file another caller is writing is waited for. Offline: fetches nothing. Throws HubError;
    // what was written so far stays for the next call.
    std::filesystem::path snapshot(const std::string& repo, const std::string& revision,
                                   const std::vector<std::string>& patterns,
                                   const ProgressCallback& progress = {},
                                   const std::stop_token& stop = {}) const;

  private:
    struct RemoteFile {
        std::string path;
        std::optional<std::int64_t> size; // from the listing, when it gives one
    };

    std::vector<RemoteFile> listRemoteFiles(const std::string& repo, const std::string& revision,
                                            const std::stop_token& stop) const;
    std::vector<std::string> listLocalFiles(const std::string& repo) const;
    void downloadFile(const std::string& url, const std::filesystem::path& target,
                      std::optional<std::int64_t> listedSize, DownloadProgress& progress,
                      const ProgressCallback& report, const std::stop_token& stop) const;

    HubClientOptions options_;
};

// True when `path` matches one of `patterns`, or `patterns` is empty.
bool matchesAnyPattern(const std::string& path, const std::vector<std::string>& patterns);

// True for a relative path that stays below the folder it is appended to: not empty, not absolute,
// no empty, "." or ".." part, no NUL byte.
bool isContainedPath(std::string_view path);

// Throws HubError (invalidName) naming `what` unless isContainedPath(path).
void requireContainedPath(std::string_view path, std::string_view what);

// True for the client's own files in the cache (".incomplete" and ".incomplete.lock" names).
bool isCacheBookkeeping(std::string_view fileName);

} // namespace basalith
