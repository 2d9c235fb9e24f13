#include "app/state/AppState.h"
#include "capture/recording/MicrophoneCapture.h"
#include "capture/usage/MicrophoneUsageMonitor.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/ManualClock.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/logging/Logger.h"
#include "platform/settings/SettingsStore.h"
#include "support/ChildProcess.h"
#include "support/PulseTestServer.h"
#include "support/TempDir.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace velnote {
namespace {
using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::PulseTestServer;

template <class Done> bool eventually(Done done, std::chrono::milliseconds timeout = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

ChildProcess recorder(const std::string& source) {
    return ChildProcess({"parecord", "--raw", "-d", source, "/dev/null"});
}

class MicrophoneUsageMonitorServiceTest : public ::testing::Test {
  protected:
    MicrophoneUsageMonitorServiceTest() {
        monitor_.onMicUsageStarted = [this] { ++started_; };
        monitor_.onMicUsageStopped = [this] { ++stopped_; };
        monitor_.onDefaultInputDeviceChanged = [this](const std::string& device) {
            std::lock_guard lock(mutex_);
            switchedTo_ = device;
        };
    }
    std::string switchedTo() {
        std::lock_guard lock(mutex_);
        return switchedTo_;
    }

    PulseTestServer server_;
    platform::ManualClock clock_;
    MicrophoneUsageMonitor monitor_{MicrophoneUsageMonitor::Dependencies{.clock = &clock_, .server = {}}};
    std::atomic<int> started_ = 0;
    std::atomic<int> stopped_ = 0;
    std::mutex mutex_;
    std::string switchedTo_;
};

TEST_F(MicrophoneUsageMonitorServiceTest,
       AnotherProcessRecordingTheDefaultInputCountsButOurOwnCaptureDoesNot) {
    monitor_.startMonitoring();
    monitor_.startMonitoring(); // once is enough
    EXPECT_FALSE(monitor_.currentInputDeviceIsRunning());

    testing::TempDir session;
    platform::SettingsStore settings(session / "settings.json");
    platform::MainDispatcher main;
    platform::ThreadPool pool(2);
    AppState state(AppState::Dependencies{&settings, &clock_, &main, &pool});
    CaptureDependencies dependencies;
    dependencies.appState = &state;
    dependencies.mainDispatcher = &main;
    dependencies.settings = &settings;
    MicrophoneCapture ownCapture(session.path(), std::nullopt, 0, dependencies);
    ownCapture.start();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(started_, 0) << "our own recording was taken for another application's";
    EXPECT_FALSE(monitor_.currentInputDeviceIsRunning());

    {
        ChildProcess other = recorder("mic.monitor");
        ASSERT_TRUE(eventually([&] { return started_ >= 1; }));
        EXPECT_EQ(stopped_, 0);

        // A monitor started while the other process records finds the input in use.
        MicrophoneUsageMonitor late;
        late.startMonitoring();
        EXPECT_TRUE(late.currentInputDeviceIsRunning());
    }
    EXPECT_TRUE(eventually([&] { return stopped_ >= 1; }));

    // Another source is not the microphone.
    const int before = started_;
    {
        ChildProcess elsewhere = recorder("speaker.monitor");
        std::this_thread::sleep_for(500ms);
    }
    EXPECT_EQ(started_, before);
    ownCapture.stop();
}

TEST_F(MicrophoneUsageMonitorServiceTest, StopSoonAfterADefaultInputSwitchIsSuppressed) {
    monitor_.startMonitoring();
    auto first = std::make_unique<ChildProcess>(
        std::vector<std::string>{"parecord", "--raw", "-d", "speaker.monitor", "/dev/null"});
    ASSERT_TRUE(eventually([] {
        platform::PulseClient client;
        client.connect();
        return client.sourceOutputs().size() == 1;
    }));

    // The new default is already in use: taken as it is, without an event.
    PulseTestServer::pactl("set-default-source speaker.monitor");
    ASSERT_TRUE(eventually([&] { return switchedTo() == "speaker.monitor"; }));
    EXPECT_TRUE(monitor_.currentInputDeviceIsRunning());
    EXPECT_EQ(started_, 0);

    // The clock stands still, so this stop is within half a second of the switch.
    first.reset();
    ASSERT_TRUE(eventually([&] { return !monitor_.currentInputDeviceIsRunning(); }));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(stopped_, 0);

    clock_.advance(600ms);
    {
        ChildProcess second = recorder("speaker.monitor");
        ASSERT_TRUE(eventually([&] { return started_ >= 1; }));
    }
    EXPECT_TRUE(eventually([&] { return stopped_ >= 1; }));

    monitor_.stopMonitoring();
    monitor_.stopMonitoring();
    const int afterStop = started_;
    {
        ChildProcess third = recorder("speaker.monitor");
        std::this_thread::sleep_for(500ms);
    }
    EXPECT_EQ(started_, afterStop);
}

TEST_F(MicrophoneUsageMonitorServiceTest, WithoutAnInputOrAServerStartFailsAndStaysStopped) {
    PulseTestServer::pactl("unload-module module-null-sink"); // both sinks, and with them every source
    try {
        monitor_.startMonitoring();
        FAIL() << "started without an input";
    } catch (const MicrophoneUsageMonitor::MonitorError& e) {
        EXPECT_EQ(e.kind(), MicrophoneUsageMonitor::MonitorError::Kind::propertyUnavailable);
        EXPECT_STREQ(e.what(), "default input device not available");
    }
    server_.stop();
    try {
        monitor_.startMonitoring();
        FAIL() << "started without a server";
    } catch (const MicrophoneUsageMonitor::MonitorError& e) {
        EXPECT_EQ(e.kind(), MicrophoneUsageMonitor::MonitorError::Kind::audioObjectError);
        EXPECT_NE(e.status(), 0);
    }
    EXPECT_FALSE(monitor_.currentInputDeviceIsRunning());
}

} // namespace
} // namespace velnote
