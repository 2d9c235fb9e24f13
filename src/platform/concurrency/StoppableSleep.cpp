#include "platform/concurrency/StoppableSleep.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace velnote::platform {

namespace {

struct Wakeup {
    std::mutex mutex;
    std::condition_variable cv;
};

} // namespace

bool sleepUntil(Clock& clock, Clock::SteadyTime deadline, const std::stop_token& stop) {
    auto wakeup = std::make_shared<Wakeup>();
    const auto notify = [wakeup] {
        std::lock_guard lock(wakeup->mutex);
        wakeup->cv.notify_all();
    };
    // Registered before the first look at the clock, so no move of a manual clock is missed.
    const auto moved = clock.onAdvance(notify);
    std::stop_callback onStop(stop, notify);
    std::unique_lock lock(wakeup->mutex);
    const auto due = [&] { return stop.stop_requested() || clock.now() >= deadline; };
    if (moved) {
        wakeup->cv.wait(lock, due);
    } else {
        // A clock that moves by itself reads std::chrono::steady_clock.
        while (!due())
            wakeup->cv.wait_until(lock, deadline);
    }
    return !stop.stop_requested();
}

} // namespace velnote::platform
