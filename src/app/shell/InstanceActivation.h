#pragma once

#include "platform/concurrency/Executor.h"

#include <chrono>
#include <functional>
#include <memory>

namespace velnote {

namespace platform {
class BusConnection;
}

// How a second launch brings the running instance forward: the instance that holds the
// single-instance lock owns the session-bus name "io.hushtape.velnote" and serves the standard
// org.freedesktop.Application.Activate method at "/io/hushtape/velnote"; a later launch calls it
// and quits.
class InstanceActivation {
  public:
    static constexpr const char* kBusName = "io.hushtape.velnote";
    static constexpr const char* kObjectPath = "/io/hushtape/velnote";
    static constexpr const char* kInterface = "org.freedesktop.Application";

    // Takes the bus name and serves Activate; each call posts `onActivate` to `target`. Throws
    // std::system_error when the bus cannot be reached or the name is taken.
    InstanceActivation(platform::Executor& target, std::function<void()> onActivate);
    ~InstanceActivation();

    InstanceActivation(const InstanceActivation&) = delete;
    InstanceActivation& operator=(const InstanceActivation&) = delete;

    // Calls Activate on the running instance. False (logged) when no instance answered within
    // `timeout` or the bus cannot be reached.
    static bool activateRunningInstance(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    struct Handler; // what the bus callback reaches

  private:
    std::unique_ptr<Handler> handler_;                    // reached by the bus callback
    std::unique_ptr<platform::BusConnection> connection_; // closed first: no callback after
};

} // namespace velnote
