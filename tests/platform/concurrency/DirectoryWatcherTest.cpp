#include "platform/concurrency/DirectoryWatcher.h"

#include "platform/concurrency/SerialExecutor.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace velnote::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto shortDebounce = 50ms;
// Long enough after a burst that a second, wrong callback would have come.
constexpr auto quietPeriod = 300ms;

class DirectoryWatcherTest : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "velnote-watch-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        watched_ = root_ / "watched";
        outside_ = root_ / "outside";
        fs::create_directories(watched_ / "existing");
        fs::create_directories(outside_ / "incoming");
        std::ofstream(watched_ / "existing" / "note.txt") << "a";
    }
    void TearDown() override {
        watcher_.reset();
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    void startWatching(std::chrono::milliseconds debounce = shortDebounce) {
        watcher_ = std::make_unique<DirectoryWatcher>(
            watched_, executor_,
            [this] {
                callbackTime_ = std::chrono::steady_clock::now();
                calls_.fetch_add(1);
            },
            debounce);
    }

    bool waitForCalls(int count) const {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (calls_.load() < count && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        return calls_.load() >= count;
    }

    fs::path root_;
    fs::path watched_;
    fs::path outside_;
    SerialExecutor executor_;
    std::atomic<int> calls_{0};
    std::atomic<std::chrono::steady_clock::time_point> callbackTime_{};
    std::unique_ptr<DirectoryWatcher> watcher_;
};

TEST_F(DirectoryWatcherTest, ReportsABurstOnceAfterTheDebounce) {
    startWatching();
    for (int i = 0; i < 5; ++i) {
        fs::create_directory(watched_ / ("session-" + std::to_string(i)));
        fs::rename(watched_ / ("session-" + std::to_string(i)), watched_ / ("renamed-" + std::to_string(i)));
    }
    const auto lastEvent = std::chrono::steady_clock::now();

    ASSERT_TRUE(waitForCalls(1));
    std::this_thread::sleep_for(quietPeriod);

    EXPECT_EQ(calls_.load(), 1);
    EXPECT_GE(callbackTime_.load() - lastEvent, shortDebounce);
    EXPECT_TRUE(watcher_->isWatching());
}

TEST_F(DirectoryWatcherTest, ReportsEntryChangesAndFolderAttributesButNotWhatHappensInsideEntries) {
    struct Case {
        std::string name;
        std::function<void(const fs::path& watched, const fs::path& outside)> change;
        int expectedCalls;
    };
    const std::vector<Case> cases = {
        {"nothing happens", [](const fs::path&, const fs::path&) {}, 0},
        {"entry created", [](const fs::path& w, const fs::path&) { fs::create_directory(w / "new"); }, 1},
        {"entry deleted", [](const fs::path& w, const fs::path&) { fs::remove_all(w / "existing"); }, 1},
        {"entry moved out",
         [](const fs::path& w, const fs::path& o) { fs::rename(w / "existing", o / "gone"); }, 1},
        {"entry moved in",
         [](const fs::path& w, const fs::path& o) { fs::rename(o / "incoming", w / "arrived"); }, 1},
        {"folder permissions changed",
         [](const fs::path& w, const fs::path&) { fs::permissions(w, fs::perms::owner_all); }, 1},
        {"file written inside an entry",
         [](const fs::path& w, const fs::path&) {
             std::ofstream(w / "existing" / "note.txt", std::ios::app) << "b";
         },
         0},
        {"entry permissions changed",
         [](const fs::path& w, const fs::path&) { fs::permissions(w / "existing", fs::perms::owner_all); },
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        calls_ = 0;
        startWatching();

        c.change(watched_, outside_);
        if (c.expectedCalls > 0) {
            EXPECT_TRUE(waitForCalls(c.expectedCalls));
        }
        std::this_thread::sleep_for(quietPeriod);
        EXPECT_EQ(calls_.load(), c.expectedCalls);
    }
}

TEST_F(DirectoryWatcherTest, DeletedFolderIsReportedOnceAndWatchingStops) {
    startWatching(10s); // the deletion must not wait for the debounce
    fs::remove_all(watched_);

    ASSERT_TRUE(waitForCalls(1));
    EXPECT_FALSE(watcher_->isWatching());

    fs::create_directories(watched_ / "again");
    std::this_thread::sleep_for(quietPeriod);
    EXPECT_EQ(calls_.load(), 1);
}

TEST_F(DirectoryWatcherTest, NoCallbackAfterDestruction) {
    startWatching(1s);
    fs::create_directory(watched_ / "new");
    watcher_.reset();

    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(calls_.load(), 0);
}

TEST_F(DirectoryWatcherTest, MissingFolderCannotBeWatched) {
    EXPECT_THROW(DirectoryWatcher(root_ / "missing", executor_, [] {}), std::system_error);
}

} // namespace
} // namespace velnote::platform
