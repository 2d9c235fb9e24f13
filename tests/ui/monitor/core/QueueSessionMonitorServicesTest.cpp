#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/ManualClock.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/settings/SettingsStore.h"
#include "processing/sessions/SessionListController.h"
#include "processing/support/QueueTestSupport.h"
#include "support/TempDir.h"
#include "ui/monitor/core/SessionMonitorServices.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {
namespace fs = std::filesystem;

// The monitor's services over a real queue and controller, as the shell assembles them: each
// completion comes back on the main thread, after the work it waited for.
class QueueSessionMonitorServicesTest : public ::testing::Test {
  protected:
    QueueSessionMonitorServicesTest() {
        fs::create_directories(base_);
        fs::create_directories(saved_);
        queue_ = std::make_unique<ProcessingQueue>(
            testing::fakeQueueDependencies(timers_, power_, pool_, main(), appState_, services_, lock_));
        SessionListController::Dependencies p;
        p.clock = &clock_;
        p.mainDispatcher = &main();
        p.publishSnapshots = [this](std::vector<SessionStatusSnapshot> list) {
            published_.push_back(std::move(list));
        };
        controller_ = std::make_unique<SessionListController>(*queue_, std::move(p));
        controller_->install().get();
        monitor_ = std::make_unique<QueueSessionMonitorServices>(
            *queue_, [this]() -> SessionListController& { return *controller_; });
        queue_->start(base_, [this] { return ResolvedDirectory{.url = saved_}; }).get();
    }
    ~QueueSessionMonitorServicesTest() override {
        services_.releaseAll();
        queue_.reset();
    }

    static platform::MainDispatcher& main() { return platform::MainDispatcher::shared(); }
    bool runUntil(const bool& flag) {
        return main().runUntil([&] { return flag; }, testing::kWaitLimit);
    }

    testing::TempDir dir_;
    fs::path base_ = dir_ / "WorkingSessions";
    fs::path saved_ = dir_ / "Saved";
    platform::ManualClock clock_;
    platform::TimerScheduler timers_{clock_};
    platform::SettingsStore settings_{dir_ / "settings.json"};
    platform::ThreadPool pool_{4};
    AppState appState_{AppState::Dependencies{
        .settings = &settings_, .clock = &clock_, .mainDispatcher = &main(), .metadataExecutor = &pool_}};
    testing::FakePowerStatus power_;
    testing::FakeSessionServices services_;
    testing::RecordingLock lock_{clock_};
    std::vector<std::vector<SessionStatusSnapshot>> published_;
    std::unique_ptr<ProcessingQueue> queue_;
    std::unique_ptr<SessionListController> controller_;
    std::unique_ptr<QueueSessionMonitorServices> monitor_;
};

TEST_F(QueueSessionMonitorServicesTest, RefreshOpenAndDeleteReportOnTheMainThread) {
    const fs::path savedSession = saved_ / "2025-01-30T08-00-00Z";
    testing::makeSession(savedSession, clock_);

    bool refreshed = false;
    monitor_->pushSnapshots([&] {
        EXPECT_TRUE(main().isMainThread());
        refreshed = true;
    });
    ASSERT_TRUE(runUntil(refreshed));
    ASSERT_FALSE(published_.empty()); // published before the completion ran
    EXPECT_EQ(published_.back().at(0).dirName, "2025-01-30T08-00-00Z");

    std::optional<bool> opened;
    monitor_->openSavedSession(saved_ / "missing", [&](bool ok) { opened = ok; });
    ASSERT_TRUE(main().runUntil([&] { return opened.has_value(); }, testing::kWaitLimit));
    EXPECT_FALSE(*opened);

    bool deleted = false;
    monitor_->deleteSession(savedSession, [&] { deleted = true; });
    ASSERT_TRUE(runUntil(deleted));
    EXPECT_FALSE(fs::exists(savedSession));
}

TEST_F(QueueSessionMonitorServicesTest, RemoveDropsTheFolderFromThePendingList) {
    queue_->pause().get(); // nothing starts, so the folder stays pending
    const fs::path session = base_ / "2025-01-31T09-15-00Z";
    testing::makeSession(session, clock_);
    queue_->enqueue(session).get();
    ASSERT_EQ(queue_->executor().submit([this] { return queue_->pendingDirs().size(); }).get(), 1u);

    bool removed = false;
    monitor_->removePending(session, [&] { removed = true; });
    ASSERT_TRUE(runUntil(removed));
    EXPECT_TRUE(queue_->executor().submit([this] { return queue_->pendingDirs().empty(); }).get());
    EXPECT_TRUE(fs::exists(session / "session.json")); // nothing on disk changes
}

} // namespace
} // namespace velnote
