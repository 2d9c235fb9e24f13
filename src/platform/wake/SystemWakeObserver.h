#pragma once

#include "platform/concurrency/Executor.h"
#include "platform/dbus/BusConnection.h"

#include <memory>

namespace velnote::platform {

// Reports each resume from suspend or hibernation: logind's signal PrepareForSleep(false) on
// org.freedesktop.login1.Manager.
class SystemWakeObserver {
  public:
    // Posts `onWake` to `target` after every resume until the observer is destroyed. Without a
    // reachable bus (a container without logind) the failure is logged and nothing is reported.
    // `bus` is the system bus in the application; tests serve a fake logind on the session bus.
    SystemWakeObserver(Executor& target, Job onWake, BusConnection::Kind bus = BusConnection::Kind::system);
    ~SystemWakeObserver();

    SystemWakeObserver(const SystemWakeObserver&) = delete;
    SystemWakeObserver& operator=(const SystemWakeObserver&) = delete;

    // Whether the subscription is in place (a test waits for it before emitting).
    bool isSubscribed() const { return connection_ != nullptr; }

    struct State; // what the bus handler reaches

  private:
    std::shared_ptr<State> state_;
    std::unique_ptr<BusConnection> connection_; // destroyed first: no handler runs after
};

} // namespace velnote::platform
