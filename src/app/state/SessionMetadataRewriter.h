#pragma once

#include "platform/concurrency/Clock.h"
#include "platform/concurrency/Executor.h"
#include "session/config/SessionConfig.h"

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>

namespace velnote {

// Writes edits of a running session's configuration into its "session.json" off the main
// thread. Rewrites run one at a time in the order they were asked for, so the file never ends
// up with an older configuration than the last edit; none is skipped or merged.
class SessionMetadataRewriter {
  public:
    // `executor` runs the file work (the shared pool at utility priority in the application);
    // `clock` dates a rebuilt file. Both must outlive this object.
    SessionMetadataRewriter(platform::Executor& executor, const platform::Clock& clock);
    // Waits for the rewrites asked for so far.
    ~SessionMetadataRewriter();

    SessionMetadataRewriter(const SessionMetadataRewriter&) = delete;
    SessionMetadataRewriter& operator=(const SessionMetadataRewriter&) = delete;

    // Queues a rewrite of `sessionDir`/"session.json" with `config` and returns at once.
    void rewrite(SessionConfig config, std::filesystem::path sessionDir);

    // Blocks until every rewrite asked for before the call has finished.
    void waitUntilIdle();

    // The rewrite itself, under the process-wide metadata lock: the configuration replaced, the
    // diarization step reset to pending (diarization on) or skipped, the summary step to pending
    // (a summary provider named) or skipped, every other field kept. A missing or unusable file
    // is rebuilt from `config` (an unreadable one is kept beside it). Failures are logged.
    static void rewriteNow(const SessionConfig& config, const std::filesystem::path& sessionDir,
                           const platform::Clock& clock);

  private:
    // Shared with the draining job, which may still be winding down after the last wait.
    struct Queue {
        std::mutex mutex;
        std::condition_variable idle;
        std::deque<std::function<void()>> jobs;
        bool draining = false;
    };

    static void drain(const std::shared_ptr<Queue>& queue);

    platform::Executor& executor_;
    const platform::Clock& clock_;
    std::shared_ptr<Queue> queue_ = std::make_shared<Queue>();
};

} // namespace velnote
