#include "session/folder/SessionDirectoryResolver.h"

#include "platform/fs/AppFolders.h"
#include "platform/logging/Logger.h"
#include "session/folder/FolderBookmark.h"
#include "support/TempDir.h"
#include "support/WithoutHome.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velnote {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono;
using Resolver = SessionDirectoryResolver;

class SessionDirectoryResolverTest : public ::testing::Test {
  public: // the failure table's lambdas break things through the fixture
    void SetUp() override {
        Resolver::setErrorReporter([this](const std::string& message) { reports_.push_back(message); });
        fs::create_directory(chosen_);
    }
    void TearDown() override { Resolver::setErrorReporter({}); }

    void choose(const fs::path& folder) {
        settings_.set(Resolver::kAudioDirKey, folder.string());
        settings_.set(Resolver::kAudioDirBookmarkKey, FolderBookmark::create(folder));
    }
    fs::path defaultFolder() const { return dir_ / "data" / "Velnote" / "Sessions"; }

    testing::TempDir dir_;
    testing::ScopedEnv dataHome_{"XDG_DATA_HOME", (dir_ / "data").string()};
    platform::SettingsStore settings_{dir_ / "settings.json"};
    const fs::path chosen_ = dir_ / "chosen";
    std::vector<std::string> reports_;
};

TEST_F(SessionDirectoryResolverTest, WorkingFolderIsComputedNotCreated) {
    const fs::path working = Resolver::resolveWorkingDir();
    EXPECT_EQ(working, dir_ / "data" / "Velnote" / "WorkingSessions");
    EXPECT_EQ(Resolver::resolveWorkingDir(), working);
    EXPECT_FALSE(fs::exists(dir_ / "data"));
}

TEST_F(SessionDirectoryResolverTest, NothingChosenGivesTheDefaultQuietly) {
    platform::LogCapture capture;
    const ResolvedDirectory resolved = Resolver::resolveUserDir(settings_);
    EXPECT_EQ(resolved.url, defaultFolder());
    EXPECT_FALSE(resolved.releaseAccess);
    EXPECT_TRUE(capture.records().empty());
    EXPECT_TRUE(reports_.empty());
    EXPECT_FALSE(fs::exists(defaultFolder()));
}

TEST_F(SessionDirectoryResolverTest, ChosenFolderComesWithAReleaseAction) {
    choose(chosen_);
    const auto data = settings_.data(Resolver::kAudioDirBookmarkKey);
    const ResolvedDirectory resolved = Resolver::resolveUserDir(settings_);
    EXPECT_EQ(resolved.url, chosen_);
    ASSERT_TRUE(resolved.releaseAccess);
    resolved.releaseAccess();
    EXPECT_EQ(settings_.data(Resolver::kAudioDirBookmarkKey), data);
}

TEST_F(SessionDirectoryResolverTest, ReplacedFolderRefreshesTheStaleBookmark) {
    choose(chosen_);
    fs::create_directory(dir_ / "other"); // exists alongside, so its inode differs
    fs::remove(chosen_);
    fs::rename(dir_ / "other", chosen_);

    const ResolvedDirectory resolved = Resolver::resolveUserDir(settings_);
    EXPECT_EQ(resolved.url, chosen_);
    EXPECT_TRUE(resolved.releaseAccess);
    EXPECT_EQ(settings_.data(Resolver::kAudioDirBookmarkKey), FolderBookmark::create(chosen_));
    EXPECT_FALSE(FolderBookmark::resolve(*settings_.data(Resolver::kAudioDirBookmarkKey)).isStale);
    EXPECT_TRUE(reports_.empty());
}

TEST_F(SessionDirectoryResolverTest, UnusableChosenFolderIsForgottenAndReportedOnce) {
    struct Case {
        const char* name;
        std::function<void(SessionDirectoryResolverTest&)> breakIt;
        const char* logged;
    };
    const Case cases[] = {
        {"folder gone", [](auto& t) { fs::remove(t.chosen_); }, "failed to resolve bookmark"},
        {"not a folder any more",
         [](auto& t) {
             fs::remove(t.chosen_);
             std::ofstream(t.chosen_) << "x";
         },
         "failed to start security-scoped access for audioDirBookmark"},
        {"garbage data",
         [](auto& t) { t.settings_.set(Resolver::kAudioDirBookmarkKey, platform::SettingsData{'x'}); },
         "failed to resolve bookmark"},
        {"bookmark missing", [](auto& t) { t.settings_.remove(Resolver::kAudioDirBookmarkKey); },
         "audioDir is set but audioDirBookmark is missing."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(chosen_);
        fs::create_directory(chosen_);
        choose(chosen_);
        c.breakIt(*this);
        reports_.clear();
        {
            platform::LogCapture capture;
            EXPECT_EQ(Resolver::resolveUserDir(settings_).url, defaultFolder());
            EXPECT_TRUE(capture.contains(c.logged));
        }
        EXPECT_FALSE(settings_.object(Resolver::kAudioDirKey));
        EXPECT_FALSE(settings_.object(Resolver::kAudioDirBookmarkKey));
        ASSERT_EQ(reports_.size(), 1u);
        EXPECT_NE(reports_[0].find(chosen_.string()), std::string::npos) << reports_[0];

        platform::LogCapture capture;
        EXPECT_EQ(Resolver::resolveUserDir(settings_).url, defaultFolder());
        EXPECT_EQ(reports_.size(), 1u) << "reported again";
        EXPECT_TRUE(capture.records().empty());
    }
}

TEST_F(SessionDirectoryResolverTest, FailingBookmarkWithoutAPathIsKeptAndNotReported) {
    choose(chosen_);
    settings_.set(Resolver::kAudioDirKey, "");
    fs::remove(chosen_);
    const auto data = settings_.data(Resolver::kAudioDirBookmarkKey);
    for (int call = 0; call < 2; ++call) {
        platform::LogCapture capture;
        EXPECT_EQ(Resolver::resolveUserDir(settings_).url, defaultFolder());
        EXPECT_TRUE(capture.contains("failed to resolve bookmark"));
    }
    EXPECT_EQ(settings_.data(Resolver::kAudioDirBookmarkKey), data);
    EXPECT_TRUE(reports_.empty());
}

TEST_F(SessionDirectoryResolverTest, FileProtectionMakesFoldersOwnerOnly) {
    fs::permissions(chosen_, fs::perms::all, fs::perm_options::replace);
    Resolver::applyFileProtection(chosen_);
    EXPECT_EQ(fs::status(chosen_).permissions(), fs::perms::owner_all);

    platform::LogCapture capture;
    Resolver::applyFileProtection(dir_ / "missing");
    EXPECT_TRUE(capture.contains("Failed to apply file protection to missing"));
}

TEST(SessionDirectoryResolverHomeTest, NoHomeFolderIsAClearErrorNotTheSharedTemporaryFolder) {
    const auto outcome = testing::checkWithoutHome([] {
        const auto throwsNoHome = [](const auto& resolve) {
            try {
                resolve();
            } catch (const platform::NoHomeFolderError&) {
                return true;
            }
            return false;
        };
        return throwsNoHome([] { Resolver::resolveWorkingDir(); }) &&
               throwsNoHome([] { Resolver::resolveFallbackDir(); });
    });
    if (!outcome)
        GTEST_SKIP() << "needs root to run as a user without a home folder";
    EXPECT_TRUE(*outcome);
}

TEST(SessionDirNameTest, UtcStartTimeWithDashes) {
    struct Case {
        sys_time<milliseconds> start;
        const char* name;
    };
    const Case cases[] = {
        {sys_days(2025y / January / 31) + 9h + 15min, "2025-01-31T09-15-00Z"},
        // 00:30 on 1 February nine hours east of UTC
        {sys_days(2025y / February / 1) + 30min - 9h, "2025-01-31T15-30-00Z"},
        {sys_days(2025y / January / 31) + 9h + 15min + 999ms, "2025-01-31T09-15-00Z"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Resolver::sessionDirName(c.start), c.name);
}

} // namespace
} // namespace velnote
