#include "speech/cache/SpeechResultCache.h"

#include "platform/fs/AppFolders.h"
#include "platform/fs/Files.h"
#include "platform/logging/Logger.h"
#include "support/BadJson.h"
#include "support/TempDir.h"
#include "support/WithoutHome.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velnote {
namespace {
namespace fs = std::filesystem;

// A stand-in for the engine's result type, to show the typed round trip.
struct FakeResult {
    std::string text;
    double seekTime = 0;
    bool operator==(const FakeResult&) const = default;
};
void to_json(platform::Json& j, const FakeResult& r) {
    j = {{"text", r.text}, {"seekTime", r.seekTime}};
}
void from_json(const platform::Json& j, FakeResult& r) {
    r.text = platform::required<std::string>(j, "text");
    r.seekTime = platform::required<double>(j, "seekTime");
}

std::vector<std::string> folderNames(const fs::path& folder) {
    std::vector<std::string> result;
    for (const auto& entry : fs::directory_iterator(folder))
        result.push_back(entry.path().filename().string());
    std::sort(result.begin(), result.end());
    return result;
}

class SpeechResultCacheTest : public ::testing::Test {
  protected:
    fs::path chunk(const std::string& session, const std::string& name) const {
        return dir_.path() / "sessions" / session / "audio" / name;
    }
    void writeEntry(const std::string& name, std::size_t bytes, int ageSeconds) const {
        fs::create_directories(cache_.folder());
        platform::writeFileAtomically(cache_.folder() / name, std::string(bytes, 'x'));
        fs::last_write_time(cache_.folder() / name,
                            fs::file_time_type::clock::now() - std::chrono::seconds(ageSeconds));
    }

    testing::TempDir dir_;
    SpeechResultCache cache_{dir_.path() / "Velnote" / "TranscriptionCaches"};
    platform::LogCapture log_;
};

TEST_F(SpeechResultCacheTest, EntryNamesJoinSessionChunkModelAndLanguage) {
    const auto mic = chunk("S", "mic_0003.wav");
    EXPECT_EQ(SpeechResultCache::entryFileName(mic, "M", std::nullopt),
              "S_mic_0003.M.auto.transcription.json");
    EXPECT_EQ(SpeechResultCache::entryFileName(mic, "M", "auto"), "S_mic_0003.M.auto.transcription.json");
    EXPECT_EQ(SpeechResultCache::entryFileName(mic, "large-v3", "ja"),
              "S_mic_0003.large-v3.ja.transcription.json");
}

TEST_F(SpeechResultCacheTest, ModelNamesWithSlashesOrDotsStayInsideTheFolder) {
    const auto mic = chunk("S", "mic_0000.wav");
    const char* models[] = {"../../escape", "a/b", "..", "/abs", "100%"};
    for (const char* model : models) {
        const auto name = SpeechResultCache::entryFileName(mic, model, std::string("../ja"));
        EXPECT_EQ(fs::path(name).filename().string(), name) << model;
        cache_.saveCachedJson(platform::Json::array({1}), mic, model, std::string("../ja"));
        EXPECT_EQ(cache_.loadCachedJson(mic, model, std::string("../ja")), platform::Json::array({1}))
            << model;
    }
    EXPECT_EQ(SpeechResultCache::entryFileName(mic, "../x", "a%2Fb"),
              "S_mic_0000...%2Fx.a%252Fb.transcription.json")
        << "escaping keeps distinct names distinct";
    EXPECT_EQ(folderNames(cache_.folder()).size(), 5u);
    EXPECT_EQ(folderNames(dir_.path()), (std::vector<std::string>{"Velnote"})) << "nothing landed outside";
}

TEST_F(SpeechResultCacheTest, MissWriteReadAndUndecodableEntry) {
    const auto mic = chunk("S", "mic_0001.wav");
    EXPECT_FALSE(cache_.loadCachedResults<FakeResult>(mic, "M", std::nullopt))
        << "a missing folder is a miss";
    EXPECT_TRUE(
        log_.contains("WhisperTranscriptionService: cache miss for S_mic_0001.M.auto.transcription.json"));

    const std::vector<FakeResult> results = {{"hello", 0.0}, {"こんにちは", 30.0}};
    cache_.saveCachedResults(results, mic, "M", std::nullopt);
    EXPECT_EQ(platform::readFile(cache_.folder() / "S_mic_0001.M.auto.transcription.json"),
              R"([{"seekTime":0.0,"text":"hello"},{"seekTime":30.0,"text":"こんにちは"}])")
        << "one compact array";
    EXPECT_EQ(cache_.loadCachedResults<FakeResult>(mic, "M", std::string("auto")), results);
    cache_.saveCachedResults(std::vector<FakeResult>{}, mic, "M", std::nullopt);
    EXPECT_EQ(cache_.loadCachedResults<FakeResult>(mic, "M", std::nullopt), std::vector<FakeResult>{})
        << "an empty array is a valid entry";

    std::vector<std::string> bad = {"not json", R"({"text":"x"})", R"([{"text":"x"}])"};
    for (const auto& variant :
         testing::badJsonVariants(platform::Json(results), {.number = "/0/seekTime", .nested = "/0/nested"}))
        bad.push_back(variant.text);
    for (const std::string& text : bad) {
        platform::writeFileAtomically(cache_.folder() / "S_mic_0001.M.auto.transcription.json", text);
        EXPECT_FALSE(cache_.loadCachedResults<FakeResult>(mic, "M", std::nullopt)) << text.substr(0, 80);
    }
    // An entry larger than any chunk's results is refused without being read whole.
    std::string padded = platform::Json(results).dump();
    padded.resize(SpeechResultCache::kMaxEntryBytes + 1, ' ');
    platform::writeFileAtomically(cache_.folder() / "S_mic_0001.M.auto.transcription.json", padded);
    EXPECT_FALSE(cache_.loadCachedResults<FakeResult>(mic, "M", std::nullopt));
    EXPECT_TRUE(log_.contains("more than"));
    EXPECT_TRUE(log_.contains("WhisperTranscriptionService: failed to decode cache for S_mic_0001.M.auto"));
    cache_.saveCachedResults(results, mic, "M", std::nullopt);
    EXPECT_EQ(cache_.loadCachedResults<FakeResult>(mic, "M", std::nullopt), results)
        << "replaced by the next write";
}

TEST_F(SpeechResultCacheTest, ClearingAChunkDeletesEveryModelAndLanguageOfItOnly) {
    // Nothing cached yet (no folder) is quiet; a folder that cannot be read is not.
    cache_.clearChunkCaches({chunk("S", "mic_0003.wav")});
    cache_.enforceCacheSizeLimit(0);
    EXPECT_FALSE(log_.contains("WhisperTranscriptionService"));
    fs::create_directories(cache_.folder().parent_path());
    platform::writeFileAtomically(cache_.folder(), "not a folder");
    cache_.clearChunkCaches({chunk("S", "mic_0003.wav")});
    cache_.enforceCacheSizeLimit(0);
    EXPECT_TRUE(log_.contains("WhisperTranscriptionService: failed to read cache dir contents"));
    EXPECT_TRUE(log_.contains("enforceCacheSizeLimit failed to read dir"));
    fs::remove(cache_.folder());

    const auto kept = platform::Json::array();
    cache_.saveCachedJson(kept, chunk("S", "mic_0003.wav"), "small", std::nullopt);
    cache_.saveCachedJson(kept, chunk("S", "mic_0003.wav"), "medium", std::string("ja"));
    cache_.saveCachedJson(kept, chunk("S", "sys_0003.wav"), "small", std::nullopt);
    cache_.saveCachedJson(kept, chunk("S", "mic_00031.wav"), "small", std::nullopt);
    cache_.saveCachedJson(kept, chunk("T", "mic_0003.wav"), "small", std::nullopt);

    cache_.clearChunkCaches({chunk("S", "mic_0003.wav"), chunk("S", "MIX_0009.WAV")});
    EXPECT_EQ(folderNames(cache_.folder()),
              (std::vector<std::string>{"S_mic_00031.small.auto.transcription.json",
                                        "S_sys_0003.small.auto.transcription.json",
                                        "T_mic_0003.small.auto.transcription.json"}));
}

TEST_F(SpeechResultCacheTest, SizeLimitDeletesOldestFirstAndStopsOnceWithin) {
    writeEntry("newest", 100, 10);
    writeEntry("oldest", 100, 40);
    writeEntry("empty-old", 0, 50);
    writeEntry("middle", 100, 30);
    writeEntry(".hidden", 1000, 60);
    fs::create_directories(cache_.folder() / "sub");

    cache_.enforceCacheSizeLimit(300);
    EXPECT_EQ(folderNames(cache_.folder()).size(), 6u) << "a total equal to the limit deletes nothing";
    EXPECT_FALSE(log_.contains("exceeds limit"));

    cache_.enforceCacheSizeLimit(299);
    EXPECT_EQ(folderNames(cache_.folder()), (std::vector<std::string>{".hidden", "middle", "newest", "sub"}))
        << "the empty oldest file goes first, then the oldest non-empty one, and the trim stops";
    EXPECT_TRUE(
        log_.contains("WhisperTranscriptionService: cache size 0MB exceeds limit 0MB, enforcing limit"));

    writeEntry("empty-new", 0, 0);
    cache_.enforceCacheSizeLimit(0);
    EXPECT_EQ(folderNames(cache_.folder()), (std::vector<std::string>{".hidden", "empty-new", "sub"}))
        << "with limit 0 an empty file after the last non-empty one stays";
}

TEST(SpeechResultCacheFolderTest, LivesInTheCachesFolder) {
    testing::TempDir dir;
    testing::ScopedEnv cache("XDG_CACHE_HOME", dir.path().string());
    EXPECT_EQ(SpeechResultCache::cacheDirectoryURL(), dir.path() / "Velnote" / "TranscriptionCaches");
    EXPECT_EQ(SpeechResultCache().folder(), dir.path() / "Velnote" / "TranscriptionCaches");
}

// Transcripts are the user's words: other users may not list the cache or read its entries,
// whatever the umask.
TEST(SpeechResultCacheFolderTest, FolderAndEntriesArePrivate) {
    testing::TempDir dir;
    const SpeechResultCache cache(dir.path() / "Velnote" / "TranscriptionCaches");
    const mode_t previous = ::umask(0);
    cache.saveCachedJson(platform::Json::array(), dir.path() / "S" / "audio" / "mic_0001.wav", "M",
                         std::nullopt);
    ::umask(previous);
    for (const fs::path& path : {dir.path() / "Velnote", cache.folder()})
        EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_all) << path;
    for (const auto& entry : fs::directory_iterator(cache.folder()))
        EXPECT_EQ(entry.status().permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

TEST(SpeechResultCacheFolderTest, NoHomeFolderIsAClearErrorNotTheSharedTemporaryFolder) {
    const auto outcome = testing::checkWithoutHome([] {
        try {
            SpeechResultCache::cacheDirectoryURL();
        } catch (const platform::NoHomeFolderError&) {
            return true;
        }
        return false;
    });
    if (!outcome)
        GTEST_SKIP() << "needs root to run as a user without a home folder";
    EXPECT_TRUE(*outcome);
}

} // namespace
} // namespace velnote
