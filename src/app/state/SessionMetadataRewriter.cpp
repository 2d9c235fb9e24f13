#include "app/state/SessionMetadataRewriter.h"

#include "session/VelnoteLogger.h"
#include "session/folder/SessionMetadataStore.h"

#include <exception>

namespace velnote {

SessionMetadataRewriter::SessionMetadataRewriter(platform::Executor& executor, const platform::Clock& clock)
    : executor_(executor), clock_(clock) {}

SessionMetadataRewriter::~SessionMetadataRewriter() {
    waitUntilIdle();
}

void SessionMetadataRewriter::rewrite(SessionConfig config, std::filesystem::path sessionDir) {
    bool startDrain = false;
    {
        std::lock_guard lock(queue_->mutex);
        queue_->jobs.push_back([config = std::move(config), dir = std::move(sessionDir), &clock = clock_] {
            rewriteNow(config, dir, clock);
        });
        startDrain = !std::exchange(queue_->draining, true);
    }
    if (startDrain) {
        executor_.post([queue = queue_] { drain(queue); });
    }
}

void SessionMetadataRewriter::waitUntilIdle() {
    std::unique_lock lock(queue_->mutex);
    queue_->idle.wait(lock, [&] { return !queue_->draining; });
}

void SessionMetadataRewriter::drain(const std::shared_ptr<Queue>& queue) {
    std::unique_lock lock(queue->mutex);
    while (!queue->jobs.empty()) {
        auto job = std::move(queue->jobs.front());
        queue->jobs.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
    queue->draining = false;
    queue->idle.notify_all();
}

void SessionMetadataRewriter::rewriteNow(const SessionConfig& config, const std::filesystem::path& sessionDir,
                                         const platform::Clock& clock) {
    const auto reset = [&config](SessionMetadata& metadata) { metadata.applyConfig(config); };
    try {
        SessionMetadataStore::updateOrRebuild(sessionDir, config, reset, clock);
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("failed to write fallback session metadata: {}", e.what());
    }
}

} // namespace velnote
