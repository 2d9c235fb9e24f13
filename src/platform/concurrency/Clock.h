#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace velnote::platform {

// The one seam through which code reads time, so tests can move it by hand.
class Clock {
  public:
    using Duration = std::chrono::steady_clock::duration;
    using SteadyTime = std::chrono::steady_clock::time_point;
    using WallTime = std::chrono::system_clock::time_point;

    virtual ~Clock() = default;

    // Monotonic time, for delays and intervals.
    virtual SteadyTime now() const = 0;
    // Calendar time, for what is shown or stored as a date.
    virtual WallTime wallNow() const = 0;

    // For clocks whose time moves only when told to (tests): `listener` is called on the moving
    // thread after every move, until the returned registration is dropped. Clocks whose time moves
    // on its own return nullptr; waiters on them use timed waits on steady time instead.
    [[nodiscard]] virtual std::shared_ptr<void> onAdvance(std::function<void()> listener) {
        (void)listener;
        return nullptr;
    }
};

} // namespace velnote::platform
