#include "processing/modelslot/ModelExecutionScheduler.h"

#include "platform/concurrency/CancellationError.h"
#include "processing/modelslot/ModelExecutionSchedulerError.h"
#include "session/VelnoteLogger.h"

#include <algorithm>

namespace velnote {

namespace {

const platform::Logger& log() {
    return VelnoteLogger::performance();
}

} // namespace

ModelExecutionScheduler::ModelExecutionScheduler(const platform::Clock& clock) : clock_(clock) {}

ModelExecutionScheduler::~ModelExecutionScheduler() {
    // The stop callbacks post to executor_: drop them while it still runs.
    executor_.submit([this] { pendingRequests_.clear(); }).get();
}

ModelExecutionScheduler& ModelExecutionScheduler::shared() {
    static auto* scheduler = new ModelExecutionScheduler();
    return *scheduler;
}

std::future<ModelExecutionSlotToken> ModelExecutionScheduler::reserveSlot(ModelExecutionPriority priority,
                                                                          std::stop_token stop) {
    auto promise = std::make_shared<std::promise<ModelExecutionSlotToken>>();
    auto future = promise->get_future();
    executor_.post([this, priority, stop = std::move(stop), promise] { reserve(priority, stop, promise); });
    return future;
}

std::future<void> ModelExecutionScheduler::releaseSlot(const ModelExecutionSlotToken& token) {
    return executor_.submit([this, token] { release(token); });
}

void ModelExecutionScheduler::reserve(ModelExecutionPriority priority, const std::stop_token& stop,
                                      const std::shared_ptr<std::promise<ModelExecutionSlotToken>>& promise) {
    if (activeSlots_.size() < maxConcurrentTasks) {
        const ModelExecutionSlotToken token{platform::Uuid::random()};
        activeSlots_.push_back({token, priority, clock_.now()});
        log().debug("model scheduler reserved slot priority={} active={}", name(priority),
                    activeSlots_.size());
        promise->set_value(token);
        return;
    }
    if (!shouldQueue(priority)) {
        log().error("model scheduler dropped low-priority request priority={} pending={}", name(priority),
                    pendingRequests_.size());
        promise->set_exception(std::make_exception_ptr(
            ModelExecutionSchedulerError(ModelExecutionSchedulerError::Kind::droppedLowPriorityTask)));
        return;
    }
    const ModelExecutionSlotToken token{platform::Uuid::random()};
    PendingRequest request{token, priority, clock_.now(), promise, nullptr};
    // A stop already requested runs this at once; the cancellation job then follows this one.
    request.onStop = std::make_unique<std::stop_callback<std::function<void()>>>(
        stop,
        std::function<void()>([this, id = token.id] { executor_.post([this, id] { cancelRequest(id); }); }));
    pendingRequests_.push_back(std::move(request));
    std::stable_sort(pendingRequests_.begin(), pendingRequests_.end(),
                     [](const PendingRequest& a, const PendingRequest& b) {
                         if (a.priority != b.priority)
                             return a.priority > b.priority;
                         return a.createdAt < b.createdAt;
                     });
    log().debug("model scheduler queued request priority={} pending={}", name(priority),
                pendingRequests_.size());
}

bool ModelExecutionScheduler::shouldQueue(ModelExecutionPriority priority) const {
    if (!isLowAdmissionClass(priority))
        return true;
    if (pendingRequests_.size() >= maxPendingRequests)
        return false;
    const auto low = std::count_if(pendingRequests_.begin(), pendingRequests_.end(),
                                   [](const PendingRequest& r) { return isLowAdmissionClass(r.priority); });
    return static_cast<std::size_t>(low) < lowPriorityPendingLimit;
}

void ModelExecutionScheduler::schedulePendingRequests() {
    while (activeSlots_.size() < maxConcurrentTasks && !pendingRequests_.empty()) {
        PendingRequest next = std::move(pendingRequests_.front());
        pendingRequests_.erase(pendingRequests_.begin());
        activeSlots_.push_back({next.token, next.priority, clock_.now()});
        log().debug("model scheduler promoting queued request priority={} pending={}", name(next.priority),
                    pendingRequests_.size());
        next.promise->set_value(next.token);
    }
}

void ModelExecutionScheduler::cancelRequest(const platform::Uuid& id) {
    const auto found = std::find_if(pendingRequests_.begin(), pendingRequests_.end(),
                                    [&](const PendingRequest& r) { return r.token.id == id; });
    // Already granted or already cancelled.
    if (found == pendingRequests_.end())
        return;
    PendingRequest request = std::move(*found);
    pendingRequests_.erase(found);
    request.promise->set_exception(std::make_exception_ptr(platform::CancellationError()));
    log().debug("model scheduler cancelled queued request priority={}", name(request.priority));
}

void ModelExecutionScheduler::release(const ModelExecutionSlotToken& token) {
    std::erase_if(activeSlots_, [&](const ActiveSlot& slot) { return slot.token == token; });
    log().debug("model scheduler released slot token={} active={}", token.id.toString(), activeSlots_.size());
    schedulePendingRequests();
}

} // namespace velnote
