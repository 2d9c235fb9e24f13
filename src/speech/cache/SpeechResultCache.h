#pragma once

#include "platform/json/Json.h"
#include "session/VelnoteLogger.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// The on-device speech engine's raw results per chunk file, model and language,
// so that transcribing a session again only transcribes chunks without an
// entry. One compact JSON array per entry in a flat folder; an entry is valid
// whenever it reads and decodes. The results are kept as JSON here: the engine
// that owns the result type decodes them through loadCachedResults<T>.
//
// Entry file name: "<session>_<chunk>.<model>.<language>.transcription.json",
// where session is the name of the chunk's session folder (two levels up),
// chunk the chunk's file name without extension and language "auto" when none
// is given. "%", "/" and NUL in a piece are written as "%25", "%2F" and "%00",
// so no model name can reach outside the folder; ordinary names stay as they are.
//
// No operation throws: failures are logged (category "processing") and absorbed.
// Not synchronised: the owning service calls it from its own actor, except
// enforceCacheSizeLimit, which may run from any thread.
class SpeechResultCache {
  public:
    // Caches/Velnote/TranscriptionCaches ($XDG_CACHE_HOME/Velnote/...). Throws
    // platform::NoHomeFolderError when there is no caches folder.
    static std::filesystem::path cacheDirectoryURL();

    // The cache in cacheDirectoryURL(); throws as that does.
    SpeechResultCache();
    // A cache in `folder` (tests). The folder is created on the first write.
    explicit SpeechResultCache(std::filesystem::path folder);

    const std::filesystem::path& folder() const { return folder_; }

    // The entry's file name; `language` std::nullopt counts as "auto".
    static std::string entryFileName(const std::filesystem::path& chunk, std::string_view model,
                                     const std::optional<std::string>& language);

    // Far more than the results of any chunk; a larger entry is not read.
    static constexpr std::size_t kMaxEntryBytes = 64 * 1024 * 1024;

    // The stored JSON array, std::nullopt on a miss or when the file is not a
    // JSON array, cannot be read or is larger than kMaxEntryBytes (logged as a
    // decode failure; the file stays).
    std::optional<platform::Json> loadCachedJson(const std::filesystem::path& chunk, std::string_view model,
                                                 const std::optional<std::string>& language) const;
    // Replaces the entry atomically with `results` (a JSON array), creating the folder.
    void saveCachedJson(const platform::Json& results, const std::filesystem::path& chunk,
                        std::string_view model, const std::optional<std::string>& language) const;

    // The entry decoded as a list of `Result` (through its from_json);
    // std::nullopt on a miss or a decode failure (logged).
    template <class Result>
    std::optional<std::vector<Result>> loadCachedResults(const std::filesystem::path& chunk,
                                                         std::string_view model,
                                                         const std::optional<std::string>& language) const {
        auto json = loadCachedJson(chunk, model, language);
        if (!json)
            return std::nullopt;
        try {
            return platform::decode<std::vector<Result>>(*json);
        } catch (const platform::JsonDecodeError& error) {
            logDecodeFailure(entryFileName(chunk, model, language), error.what());
            return std::nullopt;
        }
    }
    template <class Result>
    void saveCachedResults(const std::vector<Result>& results, const std::filesystem::path& chunk,
                           std::string_view model, const std::optional<std::string>& language) const {
        platform::Json array = platform::Json::array();
        try {
            for (const auto& result : results)
                array.push_back(result);
        } catch (const std::exception& error) {
            // A result the coding refuses (a value that is not a number) costs the entry, not the track.
            logEncodeFailure(chunk.filename().string(), error.what());
            return;
        }
        saveCachedJson(array, chunk, model, language);
    }

    // Deletes the entries of every model and language of the given chunk files
    // (chunks inside a session folder's "audio" folder).
    void clearChunkCaches(const std::vector<std::filesystem::path>& chunks) const;

    // Deletes entries, oldest modification first, until the folder's files
    // (hidden files and subfolders not counted) total at most `maxSizeBytes`.
    // The application trims to 500 MiB (524288000 bytes).
    void enforceCacheSizeLimit(std::int64_t maxSizeBytes) const;

  private:
    static void logDecodeFailure(const std::string& fileName, const std::string& reason);
    static void logEncodeFailure(const std::string& chunkName, const std::string& reason);

    std::filesystem::path folder_;
};

} // namespace velnote
