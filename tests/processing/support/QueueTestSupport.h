#pragma once

#include "platform/concurrency/CancellationError.h"
#include "platform/concurrency/Clock.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/fs/Files.h"
#include "platform/logging/Logger.h"
#include "platform/power/PowerStatus.h"
#include "processing/queue/ProcessingQueue.h"
#include "processing/queue/SessionProcessor.h"
#include "processing/queue/SessionSummaryService.h"
#include "session/folder/SessionLock.h"
#include "session/folder/SessionMetadataStore.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace velnote::testing {

inline constexpr std::chrono::seconds kWaitLimit{20};

// Waits (real time, generously) until `done()` is true, re-checking whenever `cv` is notified.
inline bool waitUntil(std::mutex& mutex, std::condition_variable& cv, const std::function<bool()>& done) {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, kWaitLimit, done);
}

// Polls a condition that no condition variable announces (log lines).
inline bool eventually(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds{2});
    }
    return true;
}

inline int countLogs(const platform::LogCapture& log, std::string_view text) {
    int n = 0;
    for (const auto& record : log.records())
        n += record.message.find(text) != std::string::npos ? 1 : 0;
    return n;
}

// A session folder with "session.json": every step pending (summary provider "local") unless
// `edit` changes them.
inline void makeSession(const std::filesystem::path& dir, const platform::Clock& clock,
                        const std::function<void(SessionMetadata&)>& edit = {}) {
    std::filesystem::create_directories(dir);
    SessionConfig config;
    config.summary.provider = "local";
    SessionMetadata meta = SessionMetadata::initial(config, clock);
    if (edit)
        edit(meta);
    SessionMetadataStore::write(meta, dir);
}

inline SessionMetadata readSession(const std::filesystem::path& dir) {
    return SessionMetadataStore::read(dir);
}

// The transcription and summary services of a session's steps. Each call is recorded as
// "transcribe:<folder>" or "summary:<folder>", counts as busy while it runs and does what the
// test scripted for that key (default: write its file and succeed).
class FakeSessionServices {
  public:
    struct Script {
        bool hold = false;                // wait for release() before going on
        bool honourStop = true;           // while held, a stop ends the call with CancellationError
        std::optional<std::string> error; // then fail with this text
        std::optional<std::string> diarizationFailure; // transcription only
    };

    void script(const std::string& key, Script script) {
        std::lock_guard lock(mutex_);
        scripts_[key] = std::move(script);
    }
    void release(const std::string& key) {
        std::lock_guard lock(mutex_);
        released_[key] = true;
        cv_.notify_all();
    }
    // Lets every held call go, for good (before the queue is destroyed).
    void releaseAll() {
        std::lock_guard lock(mutex_);
        releaseAll_ = true;
        cv_.notify_all();
    }

    bool waitForCalls(const std::string& key, int count = 1) {
        return waitUntil(mutex_, cv_, [&] { return countLocked(key) >= count; });
    }
    bool waitForEnd(const std::string& key, int count = 1) {
        return waitUntil(mutex_, cv_, [&] { return ended_[key] >= count; });
    }
    int calls(const std::string& key) {
        std::lock_guard lock(mutex_);
        return countLocked(key);
    }
    std::vector<std::string> allCalls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    int maxBusy() {
        std::lock_guard lock(mutex_);
        return maxBusy_;
    }
    int busy() {
        std::lock_guard lock(mutex_);
        return busy_;
    }

    SessionTranscriptionOutput transcribe(const std::filesystem::path& dir,
                                          const TranscriptionRequest& request, std::stop_token stop) {
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        const Script script = run("transcribe:" + dir.filename().string(), stop);
        platform::writeFileAtomically(dir / "transcript.txt", "[00:00:00] hello\n");
        return {dir / "transcript.txt", std::nullopt, script.diarizationFailure};
    }
    std::filesystem::path summarize(const std::filesystem::path& dir, const std::filesystem::path& transcript,
                                    std::stop_token stop) {
        {
            std::lock_guard lock(mutex_);
            summaryInputs_.push_back(transcript);
        }
        run("summary:" + dir.filename().string(), stop);
        platform::writeFileAtomically(dir / "summary.md", "# Summary\n");
        return dir / "summary.md";
    }

    SessionProcessor::Transcribe transcribeFunction() {
        return [this](const std::filesystem::path& dir, const TranscriptionRequest& request,
                      const SessionConfig&, std::stop_token stop) { return transcribe(dir, request, stop); };
    }
    std::shared_ptr<SessionSummaryService> summaryService();

    std::vector<TranscriptionRequest> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::vector<std::filesystem::path> summaryInputs() {
        std::lock_guard lock(mutex_);
        return summaryInputs_;
    }

  private:
    int countLocked(const std::string& key) const {
        int n = 0;
        for (const auto& call : calls_)
            n += call == key ? 1 : 0;
        return n;
    }

    Script run(const std::string& key, const std::stop_token& stop) {
        Script script;
        {
            std::lock_guard lock(mutex_);
            calls_.push_back(key);
            ++busy_;
            maxBusy_ = std::max(maxBusy_, busy_);
            script = scripts_[key];
            cv_.notify_all();
        }
        bool stopped = false;
        if (script.hold) {
            // Made before the lock is taken: a stop already requested runs it at once.
            std::stop_callback wake(stop, [this] {
                std::lock_guard inner(mutex_);
                cv_.notify_all();
            });
            std::unique_lock lock(mutex_);
            cv_.wait(lock, [&] {
                stopped = script.honourStop && stop.stop_requested();
                return released_[key] || releaseAll_ || stopped;
            });
            released_[key] = false;
        }
        {
            std::lock_guard lock(mutex_);
            --busy_;
            ++ended_[key];
            cv_.notify_all();
        }
        if (stopped)
            throw platform::CancellationError();
        if (script.error)
            throw std::runtime_error(*script.error);
        return script;
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::map<std::string, Script> scripts_;
    std::map<std::string, bool> released_;
    std::map<std::string, int> ended_;
    bool releaseAll_ = false;
    std::vector<std::string> calls_;
    std::vector<TranscriptionRequest> requests_;
    std::vector<std::filesystem::path> summaryInputs_;
    int busy_ = 0;
    int maxBusy_ = 0;
};

class FakeSummaryService final : public SessionSummaryService {
  public:
    explicit FakeSummaryService(FakeSessionServices& services) : services_(services) {}
    std::filesystem::path summarizeSession(const std::filesystem::path& sessionDir,
                                           const std::filesystem::path& transcriptPath, const SessionConfig&,
                                           std::stop_token stop) override {
        return services_.summarize(sessionDir, transcriptPath, stop);
    }

  private:
    FakeSessionServices& services_;
};

inline std::shared_ptr<SessionSummaryService> FakeSessionServices::summaryService() {
    return std::make_shared<FakeSummaryService>(*this);
}

class FakePowerStatus final : public platform::PowerStatus {
  public:
    bool isLowPowerModeEnabled() override { return lowPower.load(); }
    platform::ThermalState thermalState() override { return thermal.load(); }

    std::atomic<bool> lowPower{false};
    std::atomic<platform::ThermalState> thermal{platform::ThermalState::nominal};
};

// Takes "session.lock" for real and records every attempt: when (clock time), for which step,
// with what result. `refuse` makes attempts for a step fail without touching the file.
class RecordingLock {
  public:
    struct Attempt {
        std::string folder;
        std::string step;
        platform::Clock::SteadyTime at;
        bool taken;
    };

    explicit RecordingLock(const platform::Clock& clock) : clock_(clock) {}

    SessionProcessor::AcquireLock function() {
        return [this](const std::filesystem::path& dir, std::string_view step) {
            bool refused = false;
            {
                std::unique_lock lock(mutex_);
                if (heldFolder_ == dir.filename().string()) {
                    ++heldAttempts_;
                    cv_.notify_all();
                    cv_.wait(lock, [&] { return !heldFolder_; });
                }
                refused = refuseStep_ && *refuseStep_ == step;
            }
            const bool taken = !refused && SessionLock::acquire(dir, step, clock_);
            std::lock_guard lock(mutex_);
            attempts_.push_back({dir.filename().string(), std::string(step), clock_.now(), taken});
            cv_.notify_all();
            return taken;
        };
    }
    void refuse(std::string step) {
        std::lock_guard lock(mutex_);
        refuseStep_ = std::move(step);
    }
    // Attempts for `folder` wait, before trying, until letGo().
    void hold(std::string folder) {
        std::lock_guard lock(mutex_);
        heldFolder_ = std::move(folder);
    }
    void letGo() {
        std::lock_guard lock(mutex_);
        heldFolder_.reset();
        cv_.notify_all();
    }
    bool waitForHeldAttempts(std::size_t count) {
        return waitUntil(mutex_, cv_, [&] { return heldAttempts_ >= count; });
    }
    bool waitForAttempts(const std::string& folder, std::size_t count) {
        return waitUntil(mutex_, cv_, [&] { return forLocked(folder).size() >= count; });
    }
    std::vector<Attempt> attempts(const std::string& folder) {
        std::lock_guard lock(mutex_);
        return forLocked(folder);
    }

  private:
    std::vector<Attempt> forLocked(const std::string& folder) const {
        std::vector<Attempt> out;
        for (const auto& a : attempts_)
            if (a.folder == folder)
                out.push_back(a);
        return out;
    }

    const platform::Clock& clock_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Attempt> attempts_;
    std::optional<std::string> refuseStep_;
    std::optional<std::string> heldFolder_;
    std::size_t heldAttempts_ = 0;
};

// A queue on the fakes above, as the shell assembles one: both executors from `pool`, an hour
// of uptime, a folder watcher that waits an hour and no chunk caches to clear.
inline ProcessingQueue::Dependencies fakeQueueDependencies(platform::TimerScheduler& timers,
                                                           FakePowerStatus& power, platform::ThreadPool& pool,
                                                           platform::MainDispatcher& main, AppState& appState,
                                                           FakeSessionServices& services,
                                                           RecordingLock& lock) {
    ProcessingQueue::Dependencies d;
    d.timers = &timers;
    d.power = &power;
    d.uptime = [] { return std::chrono::hours{1}; };
    d.utilityExecutor = &pool.executor(platform::Priority::utility);
    d.backgroundExecutor = &pool.executor(platform::Priority::background);
    d.mainDispatcher = &main;
    d.appState = &appState;
    d.transcribe = services.transcribeFunction();
    d.summary = services.summaryService();
    d.acquireLock = lock.function();
    d.clearChunkCaches = [](const std::vector<std::filesystem::path>&) {};
    d.timing.watcherDebounce = std::chrono::hours{1};
    return d;
}

} // namespace velnote::testing
