#include "platform/concurrency/TimerScheduler.h"

#include "platform/concurrency/CallbackGuard.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/SystemClock.h"
#include "platform/concurrency/ThreadPool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace velnote::platform {

struct TimerScheduler::Core {
    explicit Core(Clock& c) : clock(c) {}

    // Posts every due callback that is not already queued or running. Lock held.
    void fireDue();
    // The earliest due time of a timer waiting to fire. Lock held.
    std::optional<Clock::SteadyTime> nextDue() const;
    void runThread();

    Clock& clock;
    std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false;
    std::uint64_t nextId = 0;
    std::map<std::uint64_t, std::shared_ptr<Entry>> entries;
};

struct TimerScheduler::Entry final : Timer::Control {
    Entry(std::weak_ptr<Core> c, std::uint64_t i, Executor& t, Job cb, Clock::Duration iv,
          Clock::SteadyTime d)
        : core(std::move(c)), id(i), target(t), callback(std::move(cb)), interval(iv), due(d) {}

    void cancel() override;
    bool isActive() const override { return !guard.isRevoked() && !finished.load(); }
    bool isRepeating() const { return interval > Clock::Duration::zero(); }
    // Runs on the target executor.
    void deliver();

    const std::weak_ptr<Core> core;
    const std::uint64_t id;
    Executor& target;
    const Job callback;
    const Clock::Duration interval; // zero for a one-shot timer
    CallbackGuard guard;
    std::atomic<bool> finished{false};
    // Under the core's mutex:
    Clock::SteadyTime due;
    bool inFlight = false;
};

void TimerScheduler::Core::fireDue() {
    const auto now = clock.now();
    for (auto it = entries.begin(); it != entries.end();) {
        auto& entry = it->second;
        if (entry->guard.isRevoked()) {
            it = entries.erase(it);
            continue;
        }
        if (!entry->inFlight && entry->due <= now) {
            entry->inFlight = true;
            entry->target.post([entry] { entry->deliver(); });
            if (!entry->isRepeating()) {
                it = entries.erase(it);
                continue;
            }
        }
        ++it;
    }
}

std::optional<Clock::SteadyTime> TimerScheduler::Core::nextDue() const {
    std::optional<Clock::SteadyTime> next;
    for (const auto& [id, entry] : entries) {
        if (!entry->inFlight && (!next || entry->due < *next)) {
            next = entry->due;
        }
    }
    return next;
}

void TimerScheduler::Core::runThread() {
    std::unique_lock lock(mutex);
    while (!stopping) {
        fireDue();
        if (const auto next = nextDue()) {
            changed.wait_until(lock, *next);
        } else {
            changed.wait(lock);
        }
    }
}

void TimerScheduler::Entry::cancel() {
    guard.revoke();
    // Passing through the core's lock makes sure fireDue() does not post after we return.
    if (auto owner = core.lock()) {
        std::lock_guard lock(owner->mutex);
        owner->entries.erase(id);
    }
}

void TimerScheduler::Entry::deliver() {
    if (!guard.run(callback)) {
        return;
    }
    if (!isRepeating()) {
        finished = true;
        return;
    }
    auto owner = core.lock();
    if (!owner) {
        return;
    }
    std::lock_guard lock(owner->mutex);
    inFlight = false;
    const auto now = owner->clock.now();
    if (due <= now) {
        due += interval * ((now - due) / interval + 1);
    }
    owner->changed.notify_all();
}

TimerScheduler::TimerScheduler(Clock& clock) : core_(std::make_shared<Core>(clock)) {
    std::weak_ptr<Core> weakCore = core_;
    advanceRegistration_ = clock.onAdvance([weakCore] {
        if (auto core = weakCore.lock()) {
            std::lock_guard lock(core->mutex);
            core->fireDue();
        }
    });
    if (!advanceRegistration_) {
        thread_ = std::thread([core = core_] { core->runThread(); });
    }
}

TimerScheduler::~TimerScheduler() {
    {
        std::lock_guard lock(core_->mutex);
        core_->stopping = true;
    }
    core_->changed.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
    // Entries hold callbacks whose captures may own other timers; free them outside the lock.
    std::map<std::uint64_t, std::shared_ptr<Entry>> entries;
    {
        std::lock_guard lock(core_->mutex);
        entries.swap(core_->entries);
    }
}

TimerScheduler& TimerScheduler::shared() {
    // Constructed first so that they are destroyed after the scheduler that posts to them.
    ThreadPool::shared();
    MainDispatcher::shared();
    static TimerScheduler scheduler(SystemClock::shared());
    return scheduler;
}

Timer TimerScheduler::once(Clock::Duration delay, Executor& target, Job callback) {
    return schedule(std::max(delay, Clock::Duration::zero()), Clock::Duration::zero(), target,
                    std::move(callback));
}

Timer TimerScheduler::repeating(Clock::Duration interval, Executor& target, Job callback) {
    if (interval <= Clock::Duration::zero()) {
        throw std::invalid_argument("a repeating timer needs a positive interval");
    }
    return schedule(interval, interval, target, std::move(callback));
}

Clock& TimerScheduler::clock() const {
    return core_->clock;
}

Timer TimerScheduler::schedule(Clock::Duration delay, Clock::Duration interval, Executor& target,
                               Job callback) {
    std::lock_guard lock(core_->mutex);
    const auto id = core_->nextId++;
    auto entry =
        std::make_shared<Entry>(core_, id, target, std::move(callback), interval, core_->clock.now() + delay);
    core_->entries.emplace(id, entry);
    core_->fireDue();
    core_->changed.notify_all();
    return Timer(std::move(entry));
}

} // namespace velnote::platform
