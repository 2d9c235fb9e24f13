#include "platform/concurrency/MainDispatcher.h"
#include "platform/dbus/BusConnection.h"
#include "platform/notifications/support/PrivateSessionBus.h"
#include "platform/wake/SystemWakeObserver.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

namespace velnote::platform {
namespace {

using namespace std::chrono_literals;

// logind as the observer sees it: the name org.freedesktop.login1 emitting PrepareForSleep.
class FakeLogind {
  public:
    FakeLogind() {
        connection_.withBus([](sd_bus* bus) { sd_bus_request_name(bus, "org.freedesktop.login1", 0); });
    }
    void prepareForSleep(bool sleeping) {
        connection_.withBus([&](sd_bus* bus) {
            sd_bus_emit_signal(bus, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                               "PrepareForSleep", "b", static_cast<int>(sleeping));
        });
    }

  private:
    BusConnection connection_{BusConnection::Kind::session};
};

TEST(SystemWakeObserverServiceTest, ReportsOnlyTheResume) {
    testing::PrivateSessionBus bus;
    FakeLogind logind;
    MainDispatcher main;
    int wakes = 0;
    SystemWakeObserver observer(
        main, [&] { ++wakes; }, BusConnection::Kind::session);
    ASSERT_TRUE(observer.isSubscribed());

    logind.prepareForSleep(true);
    logind.prepareForSleep(false);
    ASSERT_TRUE(main.runUntil([&] { return wakes > 0; }, 5s));
    main.runUntil([] { return false; }, 200ms);
    EXPECT_EQ(wakes, 1);
}

TEST(SystemWakeObserverServiceTest, NoBusMeansNoReports) {
    MainDispatcher main;
    testing::ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/velnote-bus");
    SystemWakeObserver observer(
        main, [] {}, BusConnection::Kind::session);
    EXPECT_FALSE(observer.isSubscribed());
}

} // namespace
} // namespace velnote::platform
