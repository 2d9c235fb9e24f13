#include "platform/concurrency/ManualClock.h"

#include <cassert>

namespace velnote::platform {

namespace {

constexpr std::chrono::sys_days defaultWallStart = std::chrono::year{2024} / 1 / 1;

} // namespace

ManualClock::ManualClock() : ManualClock(SteadyTime{} + std::chrono::hours{24}, defaultWallStart) {}

ManualClock::ManualClock(SteadyTime steadyStart, WallTime wallStart)
    : steady_(steadyStart), wall_(wallStart) {}

Clock::SteadyTime ManualClock::now() const {
    std::lock_guard lock(mutex_);
    return steady_;
}

Clock::WallTime ManualClock::wallNow() const {
    std::lock_guard lock(mutex_);
    return wall_;
}

void ManualClock::advance(Duration by) {
    assert(by >= Duration::zero());
    std::vector<std::shared_ptr<Listener>> toCall;
    {
        std::lock_guard lock(mutex_);
        steady_ += by;
        wall_ += std::chrono::duration_cast<WallTime::duration>(by);
        std::erase_if(listeners_, [](const auto& weak) { return weak.expired(); });
        for (const auto& weak : listeners_) {
            if (auto listener = weak.lock()) {
                toCall.push_back(std::move(listener));
            }
        }
    }
    // Called without the lock: listeners read the clock.
    for (const auto& listener : toCall) {
        (*listener)();
    }
}

std::shared_ptr<void> ManualClock::onAdvance(std::function<void()> listener) {
    auto registration = std::make_shared<Listener>(std::move(listener));
    std::lock_guard lock(mutex_);
    listeners_.push_back(registration);
    return registration;
}

} // namespace velnote::platform
