#include "session/folder/SummaryVersionStore.h"

#include "platform/concurrency/ManualClock.h"
#include "platform/fs/Files.h"
#include "platform/logging/Logger.h"
#include "session/config/SummaryProvider.h"
#include "session/l10n/L10n.h"
#include "support/BadJson.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono;

class SummaryVersionStoreTest : public ::testing::Test {
  protected:
    void write(const fs::path& relative, const std::string& text) const {
        fs::create_directories((dir_.path() / relative).parent_path());
        platform::writeFileAtomically(dir_.path() / relative, text);
    }
    void setModified(const fs::path& relative, sys_seconds time) const {
        fs::last_write_time(dir_.path() / relative, fs::file_time_type::clock::from_sys(time));
    }
    std::vector<std::string> names(const std::vector<SummaryVersion>& versions) const {
        std::vector<std::string> result;
        for (const auto& v : versions)
            result.push_back(v.url.filename().string());
        return result;
    }
    fs::path versions() const { return dir_.path() / "summary_versions"; }

    testing::TempDir dir_;
    platform::ManualClock clock_; // 2024-01-01T00:00:00Z
    const SummaryRunConfig openAI_{.provider = "openai",
                                   .model = "gpt-4o",
                                   .promptKey = "minutes",
                                   .promptLabel = "Minutes",
                                   .outputLanguage = "ja",
                                   .userNote = "note"};
};

TEST_F(SummaryVersionStoreTest, NothingToArchiveWithoutASummary) {
    SummaryVersionStore::archiveCurrent(dir_.path(), clock_);
    EXPECT_FALSE(fs::exists(versions()));
    write("summary_versions/2024-01-01T00-00-00Z.md", "old");
    EXPECT_EQ(names(SummaryVersionStore::allVersions(dir_.path())),
              (std::vector<std::string>{"2024-01-01T00-00-00Z.md"}));
}

TEST_F(SummaryVersionStoreTest, ArchivesWithinOneSecondGetNumberedNames) {
    write("summary.md", "current");
    SummaryVersionStore::saveRunConfig(openAI_, dir_.path());
    for (int i = 0; i < 3; ++i)
        SummaryVersionStore::archiveCurrent(dir_.path(), clock_);

    for (const char* base : {"2024-01-01T00-00-00Z", "2024-01-01T00-00-00Z_2", "2024-01-01T00-00-00Z_3"}) {
        EXPECT_EQ(platform::readFile(versions() / (std::string(base) + ".md")), "current") << base;
        EXPECT_EQ(platform::readFile(versions() / (std::string(base) + ".json")),
                  platform::readFile(dir_.path() / "summary_config.json"));
    }
    EXPECT_EQ(platform::readFile(dir_.path() / "summary.md"), "current");
}

TEST_F(SummaryVersionStoreTest, AllNumberedNamesTakenFallsBackToAUuid) {
    write("summary.md", "current");
    write("summary_versions/2024-01-01T00-00-00Z.md", "");
    for (int n = 2; n <= 999; ++n)
        write("summary_versions/2024-01-01T00-00-00Z_" + std::to_string(n) + ".md", "");
    SummaryVersionStore::archiveCurrent(dir_.path(), clock_);
    const auto all = SummaryVersionStore::allVersions(dir_.path());
    const auto uuidNamed = std::count_if(all.begin(), all.end(), [](const SummaryVersion& v) {
        const std::string stem = v.url.stem().string();
        return stem.size() == 20 + 1 + 36 && stem.rfind("2024-01-01T00-00-00Z_", 0) == 0;
    });
    EXPECT_EQ(uuidNamed, 1);
}

TEST_F(SummaryVersionStoreTest, ConfigNameTakenSkipsOnlyTheConfig) {
    write("summary.md", "current");
    SummaryVersionStore::saveRunConfig(openAI_, dir_.path());
    write("summary_versions/2024-01-01T00-00-00Z.json", "mine");
    platform::LogCapture capture;
    SummaryVersionStore::archiveCurrent(dir_.path(), clock_);
    EXPECT_TRUE(capture.contains("SummaryVersionStore: failed to archive config"));
    EXPECT_EQ(platform::readFile(versions() / "2024-01-01T00-00-00Z.md"), "current");
    EXPECT_EQ(platform::readFile(versions() / "2024-01-01T00-00-00Z.json"), "mine");
}

TEST_F(SummaryVersionStoreTest, ArchiveFailsWhenTheFolderCannotBeMade) {
    write("summary.md", "current");
    write("summary_versions", "a file in the way");
    EXPECT_THROW(SummaryVersionStore::archiveCurrent(dir_.path(), clock_), fs::filesystem_error);
}

TEST_F(SummaryVersionStoreTest, ListsCurrentFirstThenArchivesNewestFirst) {
    const sys_seconds jan31 = sys_days(2025y / January / 31) + 9h;
    write("summary.md", "current");
    setModified("summary.md", jan31 - days(30));
    write("summary_versions/2025-01-31T09-00-00Z.md", "stamped"); // dated by its name
    setModified("summary_versions/2025-01-31T09-00-00Z.md", jan31 - days(300));
    write("summary_versions/2025-01-31T09-00-00Z_2.md", "suffixed"); // not a stamp in full: file time
    setModified("summary_versions/2025-01-31T09-00-00Z_2.md", jan31 + 1h);
    write("summary_versions/notes.md", "notes");
    setModified("summary_versions/notes.md", jan31 - 1h);
    write("summary_versions/notes.json",
          R"({"provider":"mystery","model":"m1","outputLanguage":"en","userNote":""})");
    write("summary_versions/SHOUT.MD", "not listed");
    write("summary_versions/.hidden.md", "not listed");
    write("summary_versions/2025-01-31T09-00-00Z.json", "{}"); // undecodable config

    platform::LogCapture capture;
    const auto all = SummaryVersionStore::allVersions(dir_.path());
    EXPECT_EQ(names(all), (std::vector<std::string>{"summary.md", "2025-01-31T09-00-00Z_2.md",
                                                    "2025-01-31T09-00-00Z.md", "notes.md"}));
    EXPECT_TRUE(all[0].isLatest);
    EXPECT_FALSE(all[1].isLatest || all[2].isLatest || all[3].isLatest);
    EXPECT_EQ(all[2].createdAt, SummaryVersion::Time(jan31));
    EXPECT_EQ(all[1].createdAt, SummaryVersion::Time(jan31 + 1h));
    EXPECT_EQ(all[3].runConfig,
              (SummaryRunConfig{.provider = "mystery", .model = "m1", .outputLanguage = "en"}));
    EXPECT_EQ(all[2].runConfig, std::nullopt);
    EXPECT_TRUE(capture.contains("SummaryVersionStore: failed to decode config 2025-01-31T09-00-00Z.json"));
}

TEST_F(SummaryVersionStoreTest, RunConfigIsCompactAndLeavesOutAbsentPromptKeys) {
    SummaryVersionStore::saveRunConfig({"local", "", {}, {}, "ja", ""}, dir_.path());
    const std::string text = platform::readFile(dir_.path() / "summary_config.json");
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text.find("promptKey"), std::string::npos);
    EXPECT_EQ(text.find("promptLabel"), std::string::npos);

    platform::LogCapture capture;
    SummaryVersionStore::saveRunConfig(openAI_, dir_.path() / "missing");
    EXPECT_TRUE(capture.contains("SummaryVersionStore: failed to save run config"));
}

TEST_F(SummaryVersionStoreTest, ConfigWithoutARequiredKeyGivesNoRunConfig) {
    write("summary.md", "current");
    write("summary_config.json", R"({"provider":"openai","model":"","outputLanguage":"ja"})");
    const auto all = SummaryVersionStore::allVersions(dir_.path());
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].runConfig, std::nullopt);
    EXPECT_EQ(all[0].label(), L10n::localized("L10n.SummaryVersion.latest", "最新"));
}

TEST_F(SummaryVersionStoreTest, BadConfigInputGivesNoRunConfig) {
    write("summary.md", "current");
    for (const auto& bad : testing::badJsonVariants(platform::Json(openAI_))) {
        SCOPED_TRACE(bad.name);
        write("summary_config.json", bad.text);
        platform::LogCapture capture;
        const auto all = SummaryVersionStore::allVersions(dir_.path());
        ASSERT_EQ(all.size(), 1u);
        EXPECT_EQ(all[0].runConfig, std::nullopt);
        EXPECT_TRUE(capture.contains("SummaryVersionStore: failed to decode config summary_config.json"));
    }
}

TEST(SummaryVersionLabelTest, BracketNamesProviderAndModel) {
    const std::string latest = L10n::localized("L10n.SummaryVersion.latest", "最新");
    const std::string openAI = label(SummaryProvider::openAI);
    struct Case {
        SummaryRunConfig config;
        std::string suffix;
    };
    const Case cases[] = {
        {{.provider = "openai", .outputLanguage = "ja"}, "  [" + openAI + "]"},
        {{.provider = "openai", .model = "gpt-4o", .outputLanguage = "ja"}, "  [" + openAI + " · gpt-4o]"},
        {{.provider = "mystery", .model = "m1", .outputLanguage = "ja"}, "  [mystery · m1]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ((SummaryVersion{.url = "summary.md", .isLatest = true, .runConfig = c.config}).label(),
                  latest + c.suffix);
        const std::string archived = SummaryVersion{.url = "x.md",
                                                    .createdAt = SummaryVersion::kDistantPast + years(2024),
                                                    .runConfig = c.config}
                                         .label();
        EXPECT_TRUE(archived.ends_with(c.suffix)) << archived;
        EXPECT_GT(archived.size(), c.suffix.size()) << "date missing: " << archived;
        EXPECT_EQ(archived.find(latest), std::string::npos);
    }
}

TEST(SummaryVersionStoreStampTest, OnlyAWholeStampParses) {
    const sys_seconds time = sys_days(2025y / January / 31) + 9h + 15min;
    EXPECT_EQ(SummaryVersionStore::archiveStamp(time + 750ms), "2025-01-31T09-15-00Z");
    EXPECT_EQ(SummaryVersionStore::parseArchiveStamp("2025-01-31T09-15-00Z"), time);
    for (const char* name : {"2025-01-31T09-15-00Z_2", "2025-01-31T09:15:00Z", "2025-01-31T09-15-00+00-00",
                             "2025-02-30T09-15-00Z", "notes", ""}) {
        EXPECT_EQ(SummaryVersionStore::parseArchiveStamp(name), std::nullopt) << name;
    }
}

} // namespace
} // namespace velnote
