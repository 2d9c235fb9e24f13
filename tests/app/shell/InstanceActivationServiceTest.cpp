#include "app/shell/InstanceActivation.h"
#include "app/shell/NotificationPermission.h"
#include "app/shell/SingleInstanceLock.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/fs/Files.h"
#include "platform/notifications/support/FakeNotificationServer.h"
#include "platform/notifications/support/PrivateSessionBus.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <atomic>
#include <gtest/gtest.h>
#include <unistd.h>

namespace velnote {
namespace {
using namespace std::chrono_literals;

// Each test on a bus of its own: the names they own or look for are process-wide on a bus.
TEST(InstanceActivationServiceTest, ASecondLaunchActivatesTheFirstAndExitsWhileTheFirstKeepsTheLock) {
    testing::PrivateSessionBus bus;
    testing::TempDir dir;
    testing::ScopedEnv data("XDG_DATA_HOME", dir.path().string());
    // This test process is the first instance: it holds the lock and answers on the bus.
    ASSERT_TRUE(SingleInstanceLock::acquire(dir / "Velnote"));
    platform::MainDispatcher main;
    std::atomic<int> activations{0};
    InstanceActivation served(main, [&] { ++activations; });

    testing::ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
    testing::ScopedEnv leaks("ASAN_OPTIONS", "detect_leaks=0"); // Qt's libraries keep theirs till exit
    testing::ChildProcess second({VELNOTE_EXECUTABLE});
    EXPECT_EQ(second.wait(), 0);

    EXPECT_TRUE(main.runUntil([&] { return activations.load() == 1; }, 5s));
    EXPECT_EQ(platform::readFile(dir / "Velnote" / ".instance.lock"), std::to_string(::getpid()) + "\n");
    // Nothing of the second launch was built: no working folder.
    EXPECT_FALSE(std::filesystem::exists(dir / "Velnote" / "WorkingSessions"));
}

TEST(InstanceActivationServiceTest, WithNoInstanceToActivateTheCallFailsQuickly) {
    testing::PrivateSessionBus bus;
    EXPECT_FALSE(InstanceActivation::activateRunningInstance(2s));
}

TEST(InstanceActivationServiceTest, NotificationsCountAsAuthorizedWhileANotificationServiceRuns) {
    testing::PrivateSessionBus bus;
    EXPECT_FALSE(NotificationPermission::isAuthorized());
    {
        testing::FakeNotificationServer server;
        EXPECT_TRUE(NotificationPermission::isAuthorized());
    }
}

} // namespace
} // namespace velnote
