#include "engine/foundation/HubClient.h"

#include "engine/foundation/Helpers.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <curl/curl.h>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <unistd.h>

namespace fs = std::filesystem;

namespace basalith {
namespace {

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using CurlPtr = std::unique_ptr<CURL, CurlDeleter>;
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

constexpr long kConnectTimeout_s = 30;
// A transfer that moves less than 1 byte/s for this long has stalled and fails.
constexpr long kStallTimeout_s = 60;

CurlPtr makeCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CurlPtr curl(curl_easy_init());
    if (!curl)
        throw HubError(HubError::Kind::network, "cannot create an HTTP handle");
    return curl;
}

std::string escaped(CURL* curl, const std::string& text) {
    std::unique_ptr<char, decltype(&curl_free)> out(
        curl_easy_escape(curl, text.c_str(), static_cast<int>(text.size())), &curl_free);
    return out ? std::string(out.get()) : text;
}

// Each "/"-separated part escaped on its own, the separators kept.
std::string escapedPath(CURL* curl, const std::string& path) {
    std::string result;
    std::size_t start = 0;
    for (;;) {
        const auto slash = path.find('/', start);
        result +=
            escaped(curl, path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos)
            return result;
        result += '/';
        start = slash + 1;
    }
}

std::string trimmedEndpoint(std::string endpoint) {
    while (!endpoint.empty() && endpoint.back() == '/')
        endpoint.pop_back();
    return endpoint;
}

bool endsWith(const std::string& text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A repository path from the hub becomes a local path; one that could leave the repository folder
// ("..", absolute, empty parts) is refused.
bool isSafeRepoPath(const std::string& path) {
    if (path.empty() || path.front() == '/' || endsWith(path, HubClient::kIncompleteSuffix))
        return false;
    std::size_t start = 0;
    for (;;) {
        const auto slash = path.find('/', start);
        const std::string part =
            path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        if (slash == std::string::npos)
            return true;
        start = slash + 1;
    }
}

void setCommonOptions(CURL* curl, const std::string& url, curl_slist* headers) {
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeout_s);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kStallTimeout_s);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "basalith/1");
}

[[noreturn]] void throwTransferError(CURL* curl, CURLcode code, const std::string& url) {
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (code == CURLE_HTTP_RETURNED_ERROR) {
        throw HubError(HubError::Kind::httpStatus, "HTTP " + std::to_string(status) + " for " + url, status);
    }
    throw HubError(HubError::Kind::network, std::string(curl_easy_strerror(code)) + " for " + url);
}

size_t appendToString(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// State of one file transfer, shared with curl's callbacks.
struct FileTransfer {
    std::FILE* file = nullptr;
    std::int64_t resumedFrom = 0;
    DownloadProgress* progress = nullptr;
    const ProgressCallback* report = nullptr;
    std::optional<std::int64_t> declaredSize; // the whole file's size from "Content-Range: bytes a-b/size"
};

size_t readHeader(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<FileTransfer*>(user);
    const std::string_view line(data, size * count);
    constexpr std::string_view name = "content-range:";
    if (line.size() > name.size()) {
        std::string lower(line.substr(0, name.size()));
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        const auto slash = line.rfind('/');
        if (lower == name && slash != std::string_view::npos) {
            std::int64_t total = 0;
            auto digits = line.substr(slash + 1);
            if (std::from_chars(digits.data(), digits.data() + digits.size(), total).ec == std::errc()) {
                transfer->declaredSize = total;
            }
        }
    }
    return size * count;
}

size_t writeToFile(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<FileTransfer*>(user);
    return std::fwrite(data, size, count, transfer->file) * size;
}

int reportTransfer(void* user, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<FileTransfer*>(user);
    DownloadProgress& progress = *transfer->progress;
    const std::int64_t bytes = transfer->resumedFrom + now;
    const std::int64_t totalBytes = total > 0 ? transfer->resumedFrom + total : -1;
    if (bytes == progress.currentFileBytes && totalBytes == progress.currentFileTotalBytes)
        return 0;
    progress.currentFileBytes = bytes;
    progress.currentFileTotalBytes = totalBytes;
    if (*transfer->report)
        (*transfer->report)(progress);
    return 0;
}

void touch(const fs::path& file) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    FilePtr created(std::fopen(file.c_str(), "ab"));
    if (!created)
        throw HubError(HubError::Kind::fileSystem, "cannot create " + file.string());
}

} // namespace

bool matchesAnyPattern(const std::string& path, const std::vector<std::string>& patterns) {
    if (patterns.empty())
        return true;
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const std::string& pattern) { return globMatches(pattern, path); });
}

HubClient::HubClient(HubClientOptions options) : options_(std::move(options)) {
    options_.endpoint = trimmedEndpoint(options_.endpoint);
}

fs::path HubClient::defaultDownloadBase() {
    const char* home = std::getenv("HOME");
    const fs::path root = home != nullptr && *home != '\0' ? fs::path(home) : fs::temp_directory_path();
    return root / "Documents" / "huggingface";
}

fs::path HubClient::localRepoLocation(const std::string& repo) const {
    return options_.downloadBase.value_or(defaultDownloadBase()) / "models" / repo;
}

std::vector<std::string> HubClient::listFiles(const std::string& repo, const std::string& revision,
                                              const std::vector<std::string>& patterns) const {
    std::vector<std::string> all = options_.offline ? listLocalFiles(repo) : listRemoteFiles(repo, revision);
    std::vector<std::string> matching;
    std::copy_if(all.begin(), all.end(), std::back_inserter(matching),
                 [&](const std::string& path) { return matchesAnyPattern(path, patterns); });
    return matching;
}

std::vector<std::string> HubClient::listRemoteFiles(const std::string& repo,
                                                    const std::string& revision) const {
    CurlPtr curl = makeCurl();
    const std::string url = options_.endpoint + "/api/models/" + escapedPath(curl.get(), repo) +
                            "/revision/" + escaped(curl.get(), revision);
    SlistPtr headers;
    if (options_.token)
        headers.reset(curl_slist_append(nullptr, ("Authorization: Bearer " + *options_.token).c_str()));
    std::string body;
    setCommonOptions(curl.get(), url, headers.get());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, appendToString);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
    if (CURLcode code = curl_easy_perform(curl.get()); code != CURLE_OK)
        throwTransferError(curl.get(), code, url);

    auto json = nlohmann::json::parse(body, nullptr, false);
    if (json.is_discarded() || !json.is_object() || !json.contains("siblings") ||
        !json["siblings"].is_array()) {
        throw HubError(HubError::Kind::invalidResponse, "unexpected file listing from " + url);
    }
    std::vector<std::string> files;
    for (const auto& sibling : json["siblings"]) {
        if (!sibling.is_object() || !sibling.contains("rfilename") || !sibling["rfilename"].is_string()) {
            throw HubError(HubError::Kind::invalidResponse, "file listing without a file name from " + url);
        }
        auto path = sibling["rfilename"].get<std::string>();
        if (!isSafeRepoPath(path)) {
            throw HubError(HubError::Kind::invalidResponse, "unsafe file name \"" + path + "\" from " + url);
        }
        files.push_back(std::move(path));
    }
    return files;
}

std::vector<std::string> HubClient::listLocalFiles(const std::string& repo) const {
    const fs::path root = localRepoLocation(repo);
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file(ec) && !endsWith(it->path().filename().string(), kIncompleteSuffix)) {
            files.push_back(it->path().lexically_relative(root).generic_string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

fs::path HubClient::snapshot(const std::string& repo, const std::string& revision,
                             const std::vector<std::string>& patterns,
                             const ProgressCallback& progress) const {
    const fs::path root = localRepoLocation(repo);
    if (options_.offline)
        return root;

    std::vector<std::string> needed;
    DownloadProgress state;
    for (const auto& path : listFiles(repo, revision, patterns)) {
        std::error_code ec;
        if (fs::exists(root / path, ec)) {
            ++state.completedFiles;
        } else {
            needed.push_back(path);
        }
    }
    state.totalFiles = state.completedFiles + static_cast<std::int64_t>(needed.size());
    // Mark every missing file before fetching any, so an interruption between two files still
    // leaves the model visibly incomplete.
    for (const auto& path : needed)
        touch(root / (path + kIncompleteSuffix));
    if (progress)
        progress(state);

    CurlPtr curl = makeCurl();
    for (const auto& path : needed) {
        const std::string url = options_.endpoint + "/" + escapedPath(curl.get(), repo) + "/resolve/" +
                                escaped(curl.get(), revision) + "/" + escapedPath(curl.get(), path);
        state.currentFile = path;
        state.currentFileBytes = 0;
        state.currentFileTotalBytes = -1;
        downloadFile(url, root / path, state, progress);
        ++state.completedFiles;
        state.currentFile.clear();
        if (progress)
            progress(state);
    }
    return root;
}

void HubClient::downloadFile(const std::string& url, const fs::path& target, DownloadProgress& progress,
                             const ProgressCallback& report) const {
    const fs::path partial = target.string() + kIncompleteSuffix;
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    SlistPtr headers;
    if (options_.token)
        headers.reset(curl_slist_append(nullptr, ("Authorization: Bearer " + *options_.token).c_str()));

    for (bool fromStart = false;; fromStart = true) {
        FilePtr file(std::fopen(partial.c_str(), fromStart ? "wb" : "ab"));
        if (!file)
            throw HubError(HubError::Kind::fileSystem, "cannot write " + partial.string());
        FileTransfer transfer{
            file.get(), static_cast<std::int64_t>(std::ftell(file.get())), &progress, &report, {}};

        CurlPtr curl = makeCurl();
        setCommonOptions(curl.get(), url, headers.get());
        curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, writeToFile);
        curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &transfer);
        curl_easy_setopt(curl.get(), CURLOPT_RESUME_FROM_LARGE,
                         static_cast<curl_off_t>(transfer.resumedFrom));
        curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl.get(), CURLOPT_XFERINFOFUNCTION, reportTransfer);
        curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, &transfer);
        curl_easy_setopt(curl.get(), CURLOPT_HEADERFUNCTION, readHeader);
        curl_easy_setopt(curl.get(), CURLOPT_HEADERDATA, &transfer);
        const CURLcode code = curl_easy_perform(curl.get());

        long status = 0;
        curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
        // The kept bytes no longer fit the file on the hub (it changed, or the server ignores
        // ranges): start this file again from its first byte. libcurl reports a 416 answer to a
        // resumed request as success, assuming the file was complete; it may have changed instead.
        const bool rangeRefused = code == CURLE_RANGE_ERROR || status == 416;
        if (transfer.resumedFrom > 0 && rangeRefused && !fromStart)
            continue;
        if (code != CURLE_OK)
            throwTransferError(curl.get(), code, url);
        if (status != 200 && status != 206) {
            throw HubError(HubError::Kind::httpStatus, "HTTP " + std::to_string(status) + " for " + url,
                           status);
        }

        if (std::fflush(file.get()) != 0 || ::fsync(::fileno(file.get())) != 0) {
            throw HubError(HubError::Kind::fileSystem, "cannot write " + partial.string());
        }
        const auto written = static_cast<std::int64_t>(std::ftell(file.get()));
        file.reset();
        if (transfer.declaredSize && *transfer.declaredSize != written) {
            // Never let a file of the wrong length pass as complete; the next attempt starts over.
            fs::remove(partial, ec);
            throw HubError(HubError::Kind::invalidResponse, "size mismatch for " + url);
        }
        fs::rename(partial, target, ec);
        if (ec)
            throw HubError(HubError::Kind::fileSystem,
                           "cannot rename " + partial.string() + ": " + ec.message());
        return;
    }
}

} // namespace basalith
