#pragma once

#include "platform/concurrency/Clock.h"
#include "platform/concurrency/SerialExecutor.h"
#include "platform/concurrency/SystemClock.h"
#include "processing/modelslot/ModelExecutionPriority.h"
#include "processing/modelslot/ModelExecutionSlotToken.h"

#include <cstddef>
#include <functional>
#include <future>
#include <memory>
#include <stop_token>
#include <vector>

namespace velnote {

// The single gate in front of every on-device model (speech engine, local language model,
// on-device foundation model): at most one runs at a time. A caller reserves the slot with a
// priority, waits until it is granted, runs its model and releases the slot on every way out.
// Waiting requests are served highest priority first, oldest first within a priority; when too
// many low-priority requests wait, a new one is refused at once.
//
// An actor on its own executor; callers on any thread. Waiting is on the returned future, so a
// caller blocks only its own thread.
class ModelExecutionScheduler {
  public:
    static constexpr std::size_t maxConcurrentTasks = 1;
    // Waiting requests from which on every low-priority request is refused.
    static constexpr std::size_t maxPendingRequests = 64;
    // Waiting low-priority requests from which on further low-priority requests are refused.
    static constexpr std::size_t lowPriorityPendingLimit = 24;

    // `clock`: when requests were queued and slots granted; must outlive the scheduler.
    explicit ModelExecutionScheduler(const platform::Clock& clock = platform::SystemClock::shared());
    // Requests still waiting see std::future_errc::broken_promise.
    ~ModelExecutionScheduler();

    ModelExecutionScheduler(const ModelExecutionScheduler&) = delete;
    ModelExecutionScheduler& operator=(const ModelExecutionScheduler&) = delete;

    // The process's scheduler, created on first use and never destroyed.
    static ModelExecutionScheduler& shared();

    // Yields the token once the slot is granted: at once when it is free (even when `stop` was
    // already requested), else when its turn comes. Fails with ModelExecutionSchedulerError
    // (refused at admission) or platform::CancellationError (stop requested while waiting; the
    // request is then never granted). A granted caller must call releaseSlot() with the token.
    std::future<ModelExecutionSlotToken> reserveSlot(ModelExecutionPriority priority,
                                                     std::stop_token stop = {});

    // Gives the slot back and grants it to the next waiter. A token never granted or already
    // released changes nothing. The future is ready once done; callers may drop it.
    std::future<void> releaseSlot(const ModelExecutionSlotToken& token);

  private:
    struct ActiveSlot {
        ModelExecutionSlotToken token;
        ModelExecutionPriority priority;
        platform::Clock::SteadyTime reservedAt;
    };
    struct PendingRequest {
        ModelExecutionSlotToken token;
        ModelExecutionPriority priority;
        platform::Clock::SteadyTime createdAt;
        std::shared_ptr<std::promise<ModelExecutionSlotToken>> promise;
        // Cancels the request when the caller's stop is requested; dropped with the request.
        std::unique_ptr<std::stop_callback<std::function<void()>>> onStop;
    };

    void reserve(ModelExecutionPriority priority, const std::stop_token& stop,
                 const std::shared_ptr<std::promise<ModelExecutionSlotToken>>& promise);
    bool shouldQueue(ModelExecutionPriority priority) const;
    void schedulePendingRequests();
    void cancelRequest(const platform::Uuid& id);
    void release(const ModelExecutionSlotToken& token);

    const platform::Clock& clock_;
    // Only on executor_:
    std::vector<ActiveSlot> activeSlots_;
    std::vector<PendingRequest> pendingRequests_; // in serving order
    platform::SerialExecutor executor_;           // last: drains before the members above go
};

} // namespace velnote
