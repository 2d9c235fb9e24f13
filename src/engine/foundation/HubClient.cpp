#include "engine/foundation/HubClient.h"

#include "engine/foundation/FileLock.h"
#include "engine/foundation/Helpers.h"
#include "engine/foundation/HubRequest.h"
#include "platform/fs/FileDescriptor.h"
#include "platform/fs/Files.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <limits>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace basalith {
namespace {

// A server may answer a range with fewer bytes than asked; the file continues with another range
// request as long as each answer adds bytes, up to this many answers per call.
constexpr int kMaxAnswersPerFile = 8;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Percent-encodes everything but the unreserved characters of a URL.
std::string escaped(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string result;
    for (unsigned char c : text) {
        if (std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~') {
            result += static_cast<char>(c);
        } else {
            result += '%';
            result += kHex[c >> 4];
            result += kHex[c & 0xF];
        }
    }
    return result;
}

// Each "/"-separated part escaped on its own, the separators kept.
std::string escapedPath(std::string_view path) {
    std::string result;
    for (std::size_t start = 0;;) {
        const auto slash = path.find('/', start);
        result += escaped(
            path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
        if (slash == std::string_view::npos)
            return result;
        result += '/';
        start = slash + 1;
    }
}

// A name for a message: control characters (NUL among them) shown as "?".
std::string printable(std::string_view text) {
    std::string shown(text);
    std::replace_if(
        shown.begin(), shown.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; }, '?');
    return shown;
}

std::string trimmedEndpoint(std::string endpoint) {
    while (!endpoint.empty() && endpoint.back() == '/')
        endpoint.pop_back();
    return endpoint;
}

template <typename Visit> bool everyPart(std::string_view path, Visit visit) {
    for (std::size_t start = 0;;) {
        const auto slash = path.find('/', start);
        if (!visit(
                path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start)))
            return false;
        if (slash == std::string_view::npos)
            return true;
        start = slash + 1;
    }
}

// A repository path from the hub becomes a local path: it must stay inside the repository folder and
// must not pass for one of the client's own files.
bool isSafeListedPath(std::string_view path) {
    return isContainedPath(path) &&
           everyPart(path, [](std::string_view part) { return !isCacheBookkeeping(part); });
}

// The validator that If-Range accepts: a strong ETag, else the date of last change.
std::string validatorOf(const AnswerHeaders& answer) {
    if (!answer.etag.empty() && answer.etag.rfind("W/", 0) != 0)
        return answer.etag;
    return answer.lastModified;
}

bool isComplete(const fs::path& file, std::optional<std::int64_t> listedSize) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec))
        return false;
    const auto size = fs::file_size(file, ec);
    return !ec && (!listedSize || static_cast<std::int64_t>(size) == *listedSize);
}

// Null unless `path` is (or becomes) a regular file: a FIFO in its place fails at once instead
// of waiting for a reader.
FilePtr openForAppending(const fs::path& path) {
    try {
        velnote::platform::FileDescriptor fd =
            velnote::platform::openRegularFile(path, O_WRONLY | O_APPEND | O_CREAT, 0666);
        FilePtr file(::fdopen(fd.get(), "ab"));
        if (file)
            fd.release();
        return file;
    } catch (const std::system_error&) {
        return nullptr;
    }
}

void touch(const fs::path& file) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    FilePtr created = openForAppending(file);
    if (!created)
        throw HubError(HubError::Kind::fileSystem, "cannot create " + file.string());
}

// The validator a lock file kept from an earlier run, when it can go into a request header as it
// is; "" (the kept bytes are fetched again) when the file holds line breaks or other control
// characters, which would break the request or add headers to it.
std::string keptValidator(const FileLock& lock) {
    std::string text = lock.content();
    const bool clean = std::none_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    });
    return clean ? text : std::string();
}

fs::path partialOf(const fs::path& target) {
    return target.string() + HubClient::kIncompleteSuffix;
}

fs::path lockOf(const fs::path& target) {
    return target.string() + HubClient::kLockSuffix;
}

// The ".incomplete" file of one download, opened for appending.
class PartialFile {
  public:
    explicit PartialFile(fs::path path) : path_(std::move(path)), file_(openForAppending(path_)) {
        if (!file_)
            fail();
    }
    std::int64_t size() {
        struct stat status {};
        if (std::fflush(file_.get()) != 0 || ::fstat(::fileno(file_.get()), &status) != 0)
            fail();
        return static_cast<std::int64_t>(status.st_size);
    }
    // Empties the file but keeps it: it stays the marker of a file still missing.
    void truncate() {
        if (std::fflush(file_.get()) != 0 || ::ftruncate(::fileno(file_.get()), 0) != 0)
            fail();
    }
    void append(std::string_view bytes) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size())
            fail();
    }
    void sync() {
        if (std::fflush(file_.get()) != 0 || ::fsync(::fileno(file_.get())) != 0)
            fail();
    }

  private:
    [[noreturn]] void fail() const {
        throw HubError(HubError::Kind::fileSystem, "cannot write " + path_.string());
    }

    fs::path path_;
    FilePtr file_;
};

// One answer for a file: appends its body to `file` and returns the file's whole size as the
// answer gave it, when it did.
struct FileAnswer {
    const std::string& url;
    const std::optional<std::string>& token;
    PartialFile& file;
    FileLock& lock;
    std::string& validator;
    std::optional<std::int64_t> listedSize;
    DownloadProgress& progress;
    const ProgressCallback& report;

    std::optional<std::int64_t> fetch(std::int64_t from, const TransferLimits& limits) {
        HubRequest request(url, token);
        if (from > 0)
            request.setRange(from, validator);
        std::optional<std::int64_t> total;
        std::int64_t before = from; // bytes of the file ahead of this answer's body
        request.onHeaders = [&](const AnswerHeaders& answer) {
            if (answer.status == 200) {
                if (before > 0)
                    file.truncate(); // the file changed on the hub, or ranges are not served: restart
                before = 0;
                validator = validatorOf(answer);
                lock.setContent(validator);
                total = answer.contentLength;
            } else if (answer.status == 206 && from > 0) {
                if (answer.rangeFirst != from)
                    throw HubError(HubError::Kind::invalidResponse, "range answer does not continue " + url);
                total = answer.rangeTotal;
            } else {
                throw HubError(HubError::Kind::invalidResponse,
                               "unexpected HTTP " + std::to_string(answer.status) + " for " + url);
            }
            if (total && listedSize && *total != *listedSize) {
                throw HubError(HubError::Kind::invalidResponse,
                               "size " + std::to_string(*total) + " differs from the listing's " +
                                   std::to_string(*listedSize) + " for " + url);
            }
        };
        std::int64_t received = 0;
        request.onBody = [&](std::string_view bytes) {
            // A chunked answer has no end of its own: it must not grow past the size it claimed.
            received += static_cast<std::int64_t>(bytes.size());
            if (const auto bound = total ? total : listedSize; bound && before + received > *bound) {
                restart();
                throw HubError(HubError::Kind::invalidResponse, "file longer than announced from " + url);
            }
            file.append(bytes);
        };
        request.onProgress = [&](std::int64_t received, std::int64_t length) {
            const std::int64_t bytes = before + received;
            const std::int64_t totalBytes = total ? *total : length > 0 ? before + length : -1;
            if (bytes == progress.currentFileBytes && totalBytes == progress.currentFileTotalBytes)
                return;
            progress.currentFileBytes = bytes;
            progress.currentFileTotalBytes = totalBytes;
            if (report)
                report(progress);
        };
        request.run(limits);
        return total;
    }

    // Starts the file again from its first byte, keeping the (now empty) marker.
    void restart() {
        file.truncate();
        validator.clear();
        lock.setContent(validator);
    }
};

} // namespace

bool matchesAnyPattern(const std::string& path, const std::vector<std::string>& patterns) {
    if (patterns.empty())
        return true;
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const std::string& pattern) { return globMatches(pattern, path); });
}

bool isContainedPath(std::string_view path) {
    if (path.empty() || path.front() == '/' || path.find('\0') != std::string_view::npos)
        return false;
    return everyPart(path,
                     [](std::string_view part) { return !part.empty() && part != "." && part != ".."; });
}

void requireContainedPath(std::string_view path, std::string_view what) {
    if (!isContainedPath(path)) {
        throw HubError(HubError::Kind::invalidName,
                       std::string(what) + " \"" + printable(path) + "\" would leave the model folder");
    }
}

bool isCacheBookkeeping(std::string_view fileName) {
    return endsWith(fileName, HubClient::kIncompleteSuffix) || endsWith(fileName, HubClient::kLockSuffix);
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
    requireContainedPath(repo, "repository name");
    return options_.downloadBase.value_or(defaultDownloadBase()) / "models" / repo;
}

std::vector<std::string> HubClient::listFiles(const std::string& repo, const std::string& revision,
                                              const std::vector<std::string>& patterns,
                                              const std::stop_token& stop) const {
    std::vector<std::string> all;
    if (options_.offline) {
        all = listLocalFiles(repo);
    } else {
        for (auto& file : listRemoteFiles(repo, revision, stop))
            all.push_back(std::move(file.path));
    }
    std::vector<std::string> matching;
    std::copy_if(all.begin(), all.end(), std::back_inserter(matching),
                 [&](const std::string& path) { return matchesAnyPattern(path, patterns); });
    return matching;
}

std::vector<HubClient::RemoteFile> HubClient::listRemoteFiles(const std::string& repo,
                                                              const std::string& revision,
                                                              const std::stop_token& stop) const {
    localRepoLocation(repo); // refuses a name that could not be stored
    const std::string url = options_.endpoint + "/api/models/" + escapedPath(repo) + "/revision/" +
                            escaped(revision) + "?blobs=true";
    const auto tooLarge = [&] {
        return HubError(HubError::Kind::invalidResponse, "file listing larger than " +
                                                             std::to_string(kMaxListingBytes) +
                                                             " bytes from " + url);
    };
    std::string body;
    HubRequest request(url, options_.token);
    request.onHeaders = [&](const AnswerHeaders& answer) {
        if (answer.contentLength && static_cast<std::uint64_t>(*answer.contentLength) > kMaxListingBytes)
            throw tooLarge();
    };
    request.onBody = [&](std::string_view bytes) {
        if (body.size() + bytes.size() > kMaxListingBytes)
            throw tooLarge();
        body.append(bytes);
    };
    request.run({options_.idleLimit, stop});

    const auto invalid = [&](const std::string& what) {
        return HubError(HubError::Kind::invalidResponse, what + " from " + url);
    };
    const auto json = nlohmann::json::parse(body, nullptr, false);
    if (json.is_discarded() || !json.is_object() || !json.contains("siblings") ||
        !json["siblings"].is_array())
        throw invalid("unexpected file listing");
    std::vector<RemoteFile> files;
    for (const auto& sibling : json["siblings"]) {
        if (!sibling.is_object() || !sibling.contains("rfilename") || !sibling["rfilename"].is_string())
            throw invalid("file listing without a file name");
        RemoteFile file{sibling["rfilename"].get<std::string>(), std::nullopt};
        if (!isSafeListedPath(file.path))
            throw invalid("unsafe file name \"" + printable(file.path) + "\"");
        if (auto size = sibling.find("size"); size != sibling.end() && !size->is_null()) {
            if (!size->is_number_unsigned() ||
                size->get<std::uint64_t>() >
                    static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                throw invalid("bad size for \"" + file.path + "\"");
            file.size = size->get<std::int64_t>();
        }
        files.push_back(std::move(file));
    }
    return files;
}

std::vector<std::string> HubClient::listLocalFiles(const std::string& repo) const {
    const fs::path root = localRepoLocation(repo);
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file(ec) && !isCacheBookkeeping(it->path().filename().string()))
            files.push_back(it->path().lexically_relative(root).generic_string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

namespace {

// Leftovers that would keep a model incomplete for good: ".incomplete" files whose file left the
// listing or is complete, and lock files without their ".incomplete" file. A file another writer
// holds is left to that writer.
void removeStaleLeftovers(const fs::path& root,
                          const std::map<std::string, std::optional<std::int64_t>>& listed) {
    std::vector<fs::path> partials;
    std::vector<fs::path> locks;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (endsWith(name, HubClient::kLockSuffix)) {
            locks.push_back(it->path());
        } else if (endsWith(name, HubClient::kIncompleteSuffix)) {
            partials.push_back(it->path());
        }
    }
    const auto targetOf = [](const fs::path& file, std::string_view suffix) {
        const std::string path = file.string();
        return fs::path(path.substr(0, path.size() - suffix.size()));
    };
    for (const auto& partial : partials) {
        const fs::path target = targetOf(partial, HubClient::kIncompleteSuffix);
        const auto found = listed.find(target.lexically_relative(root).generic_string());
        if (found != listed.end() && !isComplete(target, found->second))
            continue;
        if (auto lock = FileLock::tryAcquire(lockOf(target))) {
            fs::remove(partial, ec);
            lock->removeFile();
        }
    }
    for (const auto& lockFile : locks) {
        const fs::path target = targetOf(lockFile, HubClient::kLockSuffix);
        if (auto lock = FileLock::tryAcquire(lockFile); lock && !fs::exists(partialOf(target), ec))
            lock->removeFile();
    }
}

} // namespace

fs::path HubClient::snapshot(const std::string& repo, const std::string& revision,
                             const std::vector<std::string>& patterns, const ProgressCallback& progress,
                             const std::stop_token& stop) const {
    const fs::path root = localRepoLocation(repo);
    if (options_.offline)
        return root;

    const std::vector<RemoteFile> listing = listRemoteFiles(repo, revision, stop);
    std::map<std::string, std::optional<std::int64_t>> listed;
    for (const auto& file : listing)
        listed.emplace(file.path, file.size);
    removeStaleLeftovers(root, listed);

    std::vector<const RemoteFile*> needed;
    DownloadProgress state;
    for (const auto& file : listing) {
        if (!matchesAnyPattern(file.path, patterns))
            continue;
        if (isComplete(root / file.path, file.size)) {
            ++state.completedFiles;
        } else {
            needed.push_back(&file);
        }
    }
    state.totalFiles = state.completedFiles + static_cast<std::int64_t>(needed.size());
    // Mark every missing file before fetching any, so an interruption between two files still
    // leaves the model visibly incomplete.
    for (const auto* file : needed)
        touch(partialOf(root / file->path));
    if (progress)
        progress(state);

    for (const auto* file : needed) {
        const std::string url = options_.endpoint + "/" + escapedPath(repo) + "/resolve/" +
                                escaped(revision) + "/" + escapedPath(file->path);
        state.currentFile = file->path;
        state.currentFileBytes = 0;
        state.currentFileTotalBytes = -1;
        downloadFile(url, root / file->path, file->size, state, progress, stop);
        ++state.completedFiles;
        state.currentFile.clear();
        if (progress)
            progress(state);
    }
    return root;
}

void HubClient::downloadFile(const std::string& url, const fs::path& target,
                             std::optional<std::int64_t> listedSize, DownloadProgress& progress,
                             const ProgressCallback& report, const std::stop_token& stop) const {
    const fs::path partial = partialOf(target);
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    // One writer per file, across threads and processes; a writer that waited may find it done.
    FileLock lock = FileLock::acquire(lockOf(target), stop);
    if (isComplete(target, listedSize)) {
        fs::remove(partial, ec);
        lock.removeFile();
        return;
    }
    PartialFile file(partial);
    std::string validator = keptValidator(lock);
    FileAnswer answer{url, options_.token, file, lock, validator, listedSize, progress, report};
    // Kept bytes continue only where the hub can confirm they are still the same file.
    if (file.size() > 0 && (validator.empty() || (listedSize && file.size() > *listedSize)))
        answer.restart();

    for (int answers = 1;; ++answers) {
        const std::int64_t from = file.size();
        std::optional<std::int64_t> total;
        try {
            total = answer.fetch(from, {options_.idleLimit, stop});
        } catch (const HubError& error) {
            // A range past the end: the kept bytes no longer fit the file on the hub.
            if (error.kind() != HubError::Kind::httpStatus || error.httpStatus() != 416 || from == 0)
                throw;
            answer.restart();
            continue;
        }
        file.sync();
        const std::int64_t written = file.size();
        if (!total)
            total = listedSize;
        if (!total || written == *total)
            break;
        if (written > *total) {
            answer.restart();
            throw HubError(HubError::Kind::invalidResponse, "file longer than announced from " + url);
        }
        if (written == from || answers >= kMaxAnswersPerFile) {
            throw HubError(HubError::Kind::invalidResponse, "answer stopped at " + std::to_string(written) +
                                                                " of " + std::to_string(*total) +
                                                                " bytes for " + url);
        }
    }
    fs::rename(partial, target, ec);
    if (ec)
        throw HubError(HubError::Kind::fileSystem, "cannot rename " + partial.string() + ": " + ec.message());
    lock.removeFile();
}

} // namespace basalith
