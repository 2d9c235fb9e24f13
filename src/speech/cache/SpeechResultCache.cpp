#include "speech/cache/SpeechResultCache.h"

#include "platform/fs/AppFolders.h"
#include "platform/fs/Files.h"

#include <algorithm>
#include <system_error>

namespace velnote {
namespace fs = std::filesystem;
namespace {

const platform::Logger& log() {
    return VelnoteLogger::processing();
}

// Keeps every piece a plain part of one file name.
std::string escaped(std::string_view piece) {
    std::string out;
    for (const char c : piece) {
        if (c == '%')
            out += "%25";
        else if (c == '/')
            out += "%2F";
        else if (c == '\0')
            out += "%00";
        else
            out += c;
    }
    return out;
}

// "<session>_<chunk>": every entry of one chunk file starts with this and a ".".
std::string chunkKey(const fs::path& chunk) {
    return escaped(chunk.parent_path().parent_path().filename().string()) + "_" +
           escaped(chunk.stem().string());
}

struct FileInfo {
    fs::path url;
    std::int64_t size = 0;
    fs::file_time_type date;
};

// The folder's regular, non-hidden files with their size and date; entries
// whose values cannot be read are left out. std::nullopt when listing fails.
// The folder is made by the first write: until then there is simply nothing cached.
std::vector<fs::path> cacheEntries(const fs::path& folder, platform::HiddenEntries hidden,
                                   std::error_code& error) {
    auto entries = platform::listDirectory(folder, hidden, error);
    if (error == std::errc::no_such_file_or_directory)
        error.clear();
    return entries;
}

std::optional<std::vector<FileInfo>> sizedEntries(const fs::path& folder, std::error_code& error) {
    const auto entries = cacheEntries(folder, platform::HiddenEntries::skip, error);
    if (error)
        return std::nullopt;
    std::vector<FileInfo> files;
    for (const auto& path : entries) {
        std::error_code ignored;
        if (!fs::is_regular_file(fs::symlink_status(path, ignored)))
            continue;
        const auto size = fs::file_size(path, ignored);
        if (ignored)
            continue;
        const auto date = fs::last_write_time(path, ignored);
        if (ignored)
            continue;
        files.push_back({path, static_cast<std::int64_t>(size), date});
    }
    return files;
}

} // namespace

fs::path SpeechResultCache::cacheDirectoryURL() {
    return platform::requiredCachesDirectory() / "TranscriptionCaches";
}

SpeechResultCache::SpeechResultCache() : SpeechResultCache(cacheDirectoryURL()) {}

SpeechResultCache::SpeechResultCache(fs::path folder) : folder_(std::move(folder)) {}

std::string SpeechResultCache::entryFileName(const fs::path& chunk, std::string_view model,
                                             const std::optional<std::string>& language) {
    return chunkKey(chunk) + "." + escaped(model) + "." + escaped(language ? *language : "auto") +
           ".transcription.json";
}

std::optional<platform::Json>
SpeechResultCache::loadCachedJson(const fs::path& chunk, std::string_view model,
                                  const std::optional<std::string>& language) const {
    const std::string name = entryFileName(chunk, model, language);
    std::string bytes;
    try {
        bytes = platform::readRegularFile(folder_ / name, kMaxEntryBytes);
    } catch (const std::system_error& error) {
        if (error.code() == std::errc::no_such_file_or_directory)
            log().debug("WhisperTranscriptionService: cache miss for {}", name);
        else
            logDecodeFailure(name, error.what());
        return std::nullopt;
    }
    try {
        auto json = platform::parseJson(bytes);
        if (!json.is_array())
            throw platform::JsonDecodeError("", "expected an array, found " + std::string(json.type_name()));
        return json;
    } catch (const platform::JsonDecodeError& error) {
        logDecodeFailure(name, error.what());
        return std::nullopt;
    }
}

void SpeechResultCache::saveCachedJson(const platform::Json& results, const fs::path& chunk,
                                       std::string_view model,
                                       const std::optional<std::string>& language) const {
    const fs::path target = folder_ / entryFileName(chunk, model, language);
    const std::string chunkName = chunk.filename().string();
    try {
        platform::createDirectories(folder_);
    } catch (const std::system_error& failure) {
        log().error("WhisperTranscriptionService: failed to create cache dir: {}", failure.code().message());
    }
    try {
        platform::writeFileAtomically(target, platform::toCompactJson(results));
    } catch (const std::exception& failure) {
        log().error("WhisperTranscriptionService: failed to write cache for {}: {}", chunkName,
                    failure.what());
    }
}

void SpeechResultCache::clearChunkCaches(const std::vector<fs::path>& chunks) const {
    std::error_code error;
    const auto entries = cacheEntries(folder_, platform::HiddenEntries::include, error);
    if (error) {
        log().error("WhisperTranscriptionService: failed to read cache dir contents: {}", error.message());
        return;
    }
    std::vector<std::string> prefixes;
    for (const auto& chunk : chunks)
        prefixes.push_back(chunkKey(chunk) + ".");
    std::vector<fs::path> doomed;
    for (const auto& path : entries) {
        const std::string name = path.filename().string();
        if (std::any_of(prefixes.begin(), prefixes.end(), [&](const auto& p) { return name.starts_with(p); }))
            doomed.push_back(path);
    }
    for (const auto& path : doomed) {
        std::error_code removal;
        fs::remove(path, removal);
        if (removal)
            log().error("WhisperTranscriptionService: failed to remove cache {}: {}",
                        path.filename().string(), removal.message());
    }
}

void SpeechResultCache::enforceCacheSizeLimit(std::int64_t maxSizeBytes) const {
    std::error_code error;
    auto files = sizedEntries(folder_, error);
    if (!files) {
        log().error("WhisperTranscriptionService: enforceCacheSizeLimit failed to read dir: {}",
                    error.message());
        return;
    }
    std::int64_t total = 0;
    for (const auto& file : *files)
        total += file.size;
    if (total <= maxSizeBytes)
        return;
    log().info("WhisperTranscriptionService: cache size {}MB exceeds limit {}MB, enforcing limit",
               total / 1048576, maxSizeBytes / 1048576);
    std::stable_sort(files->begin(), files->end(),
                     [](const auto& a, const auto& b) { return a.date < b.date; });
    for (const auto& file : *files) {
        if (total <= maxSizeBytes)
            break;
        std::error_code removal;
        if (fs::remove(file.url, removal)) {
            total -= file.size;
        } else {
            log().error("WhisperTranscriptionService: failed to remove old cache {}: {}",
                        file.url.filename().string(), removal ? removal.message() : "no such file");
        }
    }
}

void SpeechResultCache::logEncodeFailure(const std::string& chunkName, const std::string& reason) {
    log().error("WhisperTranscriptionService: failed to encode cache for {}: {}", chunkName, reason);
}

void SpeechResultCache::logDecodeFailure(const std::string& fileName, const std::string& reason) {
    log().error("WhisperTranscriptionService: failed to decode cache for {}: {}", fileName, reason);
}

} // namespace velnote
