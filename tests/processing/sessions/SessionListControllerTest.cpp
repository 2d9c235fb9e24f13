#include "processing/sessions/SessionListController.h"

#include "platform/concurrency/ManualClock.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/error/DomainError.h"
#include "platform/settings/SettingsStore.h"
#include "support/QueueTestSupport.h"
#include "support/TempDir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace velnote {
namespace {
namespace fs = std::filesystem;

class RecordingCenter final : public platform::NotificationCenter {
  public:
    void setCategories(std::vector<platform::NotificationCategory>) override {}
    void setResponseHandler(ResponseHandler) override {}
    void add(const platform::NotificationRequest& request) override {
        std::lock_guard lock(mutex);
        requests.push_back(request);
    }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return requests.size();
    }
    std::mutex mutex;
    std::vector<platform::NotificationRequest> requests;
};

// The queue with its controller plugged in, as the shell assembles them: a processed session is
// published in the snapshots, notified once, and can then be closed into the saved folder.
class SessionListControllerTest : public ::testing::Test {
  protected:
    SessionListControllerTest() {
        fs::create_directories(base_);
        fs::create_directories(saved_);
        queue_ = std::make_unique<ProcessingQueue>(
            testing::fakeQueueDependencies(timers_, power_, pool_, main_, appState_, services_, lock_));
        SessionListController::Dependencies p;
        p.notifications = &center_;
        p.clock = &clock_;
        p.mainDispatcher = &main_;
        p.publishSnapshots = [this](std::vector<SessionStatusSnapshot> list) {
            snapshots_ = std::move(list);
        };
        p.setLastTranscriptPath = [this](std::optional<fs::path> path) { lastTranscript_ = std::move(path); };
        controller_ = std::make_unique<SessionListController>(*queue_, std::move(p));
        controller_->install().get();
    }
    ~SessionListControllerTest() override {
        services_.releaseAll();
        queue_.reset();
    }

    bool publishedAsDone(const fs::path& dir) {
        for (const auto& s : snapshots_) {
            if (s.dirName == dir.filename() && s.transcription.status == StepStatus::done &&
                s.summary.status == StepStatus::done) {
                return true;
            }
        }
        return false;
    }

    testing::TempDir dir_;
    fs::path base_ = dir_ / "WorkingSessions";
    fs::path saved_ = dir_ / "Saved";
    platform::ManualClock clock_;
    platform::TimerScheduler timers_{clock_};
    platform::MainDispatcher main_;
    platform::SettingsStore settings_{dir_ / "settings.json"};
    platform::ThreadPool pool_{4};
    AppState appState_{AppState::Dependencies{
        .settings = &settings_, .clock = &clock_, .mainDispatcher = &main_, .metadataExecutor = &pool_}};
    testing::FakePowerStatus power_;
    testing::FakeSessionServices services_;
    testing::RecordingLock lock_{clock_};
    RecordingCenter center_;
    std::vector<SessionStatusSnapshot> snapshots_;
    std::optional<fs::path> lastTranscript_;
    std::unique_ptr<ProcessingQueue> queue_;
    std::unique_ptr<SessionListController> controller_;
};

TEST_F(SessionListControllerTest, ProcessedSessionIsPublishedNotifiedOnceAndCanBeClosed) {
    const fs::path session = base_ / "2025-01-31T09-15-00Z";
    testing::makeSession(session, clock_);
    queue_->start(base_, [this] { return ResolvedDirectory{.url = saved_}; }).get();

    ASSERT_TRUE(testing::eventually([&] { return center_.count() == 1; }));
    ASSERT_TRUE(testing::eventually(
        [&] { return testing::readSession(session).completionNotificationSentAt.has_value(); }));
    ASSERT_TRUE(main_.runUntil(
        [&] {
            clock_.advance(std::chrono::seconds{2}); // past the queue's debounce and the throttle
            return publishedAsDone(session) && lastTranscript_.has_value();
        },
        testing::kWaitLimit));
    EXPECT_EQ(lastTranscript_, session / "transcript.txt");

    controller_->closeSession(session, SessionMedia::keep).get();
    EXPECT_FALSE(fs::exists(session));
    EXPECT_TRUE(fs::exists(saved_ / session.filename() / "summary.md"));
    EXPECT_EQ(center_.count(), 1u);
}

// A "session.json" that is a FIFO: reading it waits until release() lets every reader through
// (to the end of an empty file), as a disk that takes its time.
class SlowSessionFile {
  public:
    explicit SlowSessionFile(const fs::path& dir) : file_(dir / "session.json") {
        fs::create_directories(dir);
        EXPECT_EQ(::mkfifo(file_.c_str(), 0600), 0);
    }
    ~SlowSessionFile() { release(); }
    void release() {
        if (opener_.joinable())
            return;
        opener_ = std::jthread([this](std::stop_token stop) {
            while (!stop.stop_requested()) {
                const int fd = ::open(file_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0)
                    ::close(fd);
                std::this_thread::sleep_for(std::chrono::milliseconds{1});
            }
        });
    }

  private:
    fs::path file_;
    std::jthread opener_;
};

// Building the snapshots reads every session folder; the queue's executor goes on answering
// meanwhile, and the build, once it can go on, is published.
TEST_F(SessionListControllerTest, ASlowSnapshotBuildDoesNotHoldTheQueue) {
    testing::makeSession(saved_ / "2025-01-30T08-00-00Z", clock_);
    SlowSessionFile slow(saved_ / "2025-01-31T08-00-00Z");
    queue_->start(base_, [this] { return ResolvedDirectory{.url = saved_}; }).get();

    auto asked = queue_->executor().submit([this] { controller_->pushSnapshots(SnapshotPush::forced); });
    EXPECT_EQ(asked.wait_for(testing::kWaitLimit), std::future_status::ready);
    EXPECT_EQ(queue_->executor().submit([] {}).wait_for(testing::kWaitLimit), std::future_status::ready);
    EXPECT_TRUE(snapshots_.empty());

    slow.release();
    ASSERT_TRUE(main_.runUntil([&] { return snapshots_.size() == 1; }, testing::kWaitLimit));
    EXPECT_EQ(snapshots_[0].dirName, "2025-01-30T08-00-00Z");
}

TEST_F(SessionListControllerTest, AForcedPushIsReadyOnceItsPublicationIsHandedToMain) {
    queue_->start(base_, [this] { return ResolvedDirectory{.url = saved_}; }).get();
    testing::makeSession(saved_ / "2025-01-30T08-00-00Z", clock_);
    controller_->pushSnapshotsNow().get();
    main_.runPending(); // the publication was posted before the future became ready
    ASSERT_EQ(snapshots_.size(), 1u);
    EXPECT_EQ(snapshots_[0].dirName, "2025-01-30T08-00-00Z");
}

TEST_F(SessionListControllerTest, ReopeningAMissingFolderThrowsToTheCaller) {
    queue_->start(base_, [this] { return ResolvedDirectory{.url = saved_}; }).get();
    EXPECT_THROW(controller_->openSavedSession(saved_ / "gone").get(), platform::DomainError);
}

} // namespace
} // namespace velnote

namespace velnote {
namespace {

TEST_F(SessionListControllerTest, NightlyActionQueuesOnlyNightlySessionsThenFinishesOnMain) {
    testing::ScopedEnv cache("XDG_CACHE_HOME", (dir_ / "cache").string());
    const fs::path nightly = base_ / "2025-01-31T09-15-00Z";
    testing::makeSession(nightly, clock_, [](SessionMetadata& m) { m.config.system.nightlyBatch = true; });
    queue_->start(base_, [this] { return ResolvedDirectory{.url = saved_}; }).get();
    EXPECT_EQ(services_.calls("transcribe:" + nightly.filename().string()), 0) << "left to the nightly run";

    bool finished = false;
    controller_->nightlyBatchAction()([&] { finished = true; });
    ASSERT_TRUE(main_.runUntil([&] { return finished; }, testing::kWaitLimit));
    EXPECT_TRUE(services_.waitForCalls("transcribe:" + nightly.filename().string()));
}

} // namespace
} // namespace velnote
