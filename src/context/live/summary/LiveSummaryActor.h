#pragma once

#include "app/state/AppState.h"
#include "context/live/LiveSummaryService.h"
#include "context/live/summary/LiveSummaryGenerator.h"
#include "platform/concurrency/Clock.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/SerialExecutor.h"
#include "platform/power/PowerStatus.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <list>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace velnote {

// The periodic live summary of the running recording: every `intervalMinutes` (5 by default) it
// summarises the last ten minutes of the live transcript and of the screen text, building on the
// previous summary, stores the result as "summary.live.md" in the session folder and publishes
// it, with a pending flag and an error message, to AppState. One recording at a time.
//
// Threads: an actor. Every operation posts to its serial executor and returns a future. The loop
// runs on a thread of its own (one per start or restart; a restart cancels the old loop, whose
// pass in progress runs on to its end) and enters the actor for each step of a pass; the OCR
// lines and the generation are awaited outside the actor, so the writers, a restart and a stop
// run meanwhile. AppState updates are posted to the main thread and never awaited.
class LiveSummaryActor final : public LiveSummaryService {
  public:
    struct Environment {
        platform::Clock* clock = nullptr;                   // waits and the recording time; SystemClock
        platform::MainDispatcher* mainDispatcher = nullptr; // where AppState is updated; the shared one
        AppState* appState = nullptr;                       // AppState::shared()
        platform::PowerStatus* power = nullptr;             // thermal state; SystemPowerStatus::shared()
        LiveSummaryGenerator::Environment generation = LiveSummaryGenerator::Environment::standard();
        // Called on the loop's thread after every pass (also one that skipped at a gate), once
        // the next wait is fixed. Tests wait on it.
        std::function<void()> afterPass;
    };

    static constexpr std::int64_t maxTranscriptLength = 24000; // characters kept of the transcript
    static constexpr double transcriptWindowSeconds = 600;     // what a pass summarises

    LiveSummaryActor(); // every dependency process-wide
    explicit LiveSummaryActor(Environment environment);
    // Stops every loop and waits for the passes in progress (cancelled) to end.
    ~LiveSummaryActor() override;

    LiveSummaryActor(const LiveSummaryActor&) = delete;
    LiveSummaryActor& operator=(const LiveSummaryActor&) = delete;

    // The process's live summary, created on first use and never destroyed.
    static const std::shared_ptr<LiveSummaryActor>& shared();

    std::future<void> startSession(const std::filesystem::path& sessionDir,
                                   std::shared_ptr<ScreenCaptureMonitoring> screenMonitor,
                                   const SessionConfig& config,
                                   std::chrono::system_clock::time_point startedAt) override;
    std::future<void> stopSession() override;
    std::future<void> setScreenMonitor(std::shared_ptr<ScreenCaptureMonitoring> screenMonitor) override;
    std::future<void> updateSchedule(bool enabled, std::int64_t intervalMinutes) override;
    std::future<void> updateProviderSettings(SummaryProvider provider, std::string prompt,
                                             std::optional<std::string> providerModel,
                                             std::optional<std::string> providerBaseURL) override;
    std::future<void> setOutputLanguage(std::string outputLanguage) override;

    // The latest live transcript: the committed lines joined by "\n", of which the last 24000
    // characters are kept. Calls are applied in the order they are made.
    std::future<void> updateLatestTranscript(std::vector<std::string> lines);
    std::future<void> setLatestTranscript(std::string transcript);

    // Starts the wait for the next pass anew (while a session runs).
    std::future<void> restartLoop();

    // The lines of `transcript` stamped "[MM:SS]" at `sinceElapsedSeconds` or later, and the lines
    // without a stamp; the whole text for a start of 0 or less.
    static std::string filterTranscript(std::string_view transcript, double sinceElapsedSeconds);
    // "MM:SS" as seconds (minutes may pass 59); 0 for anything else.
    static double elapsedSeconds(std::string_view stamp);
    // What tells two transcripts apart for the live summary: the character count of the trimmed
    // text, ":", and its last 1600 characters.
    static std::string transcriptFingerprint(std::string_view trimmedTranscript);

  private:
    // Whether a pass may skip the switch, heat and unchanged-transcript gates.
    enum class PassGates { all, skipOptional };

    // What a pass takes from the actor before it leaves it to read the screen text.
    struct PassStart {
        std::uint64_t session = 0; // the session the pass belongs to
        std::string fingerprint;
        std::string previous;
        std::string recentTranscript;
        double ocrSince = 0;
        std::shared_ptr<ScreenCaptureMonitoring> screenMonitor;
    };
    // The provider and request a pass runs with, read after the screen text arrived.
    struct PassWork {
        SummaryProvider provider = SummaryProvider::llamaCppLocal;
        LiveSummaryRequest request;
        LiveSummaryLocalModel localModel;
    };

    struct Loop {
        std::jthread thread;
        std::shared_ptr<std::atomic<bool>> finished = std::make_shared<std::atomic<bool>>(false);
    };

    // Only on executor_:
    void restartLoopNow();
    platform::Clock::SteadyTime nextWakeUp();
    // A pass in steps: the gates, then the request, then the result. Each returns when the pass
    // ends there (none) or what the next step needs.
    std::optional<PassStart> beginPass(PassGates gates);
    std::optional<PassWork> preparePass(const PassStart& start, std::string ocrContext);
    void finishPass(const PassStart& start, const std::string& summary, std::exception_ptr failure);
    void endPass(std::uint64_t session);
    bool isCurrent(std::uint64_t session) const { return isActive_ && session == session_; }
    void publish(std::function<void(AppState&)> update);

    // On a loop's thread:
    void runLoop(std::stop_token stop, platform::Clock::SteadyTime firstWakeUp);
    void generateSummaryIfNeeded(PassGates gates, const std::stop_token& stop);

    platform::Clock& clock_;
    platform::MainDispatcher& main_;
    AppState& appState_;
    platform::PowerStatus& power_;
    LiveSummaryGenerator generator_;
    std::function<void()> afterPass_;

    // Only on executor_:
    std::optional<std::filesystem::path> sessionDir_;        // none while no session runs
    std::chrono::system_clock::time_point sessionStartedAt_; // origin of the transcript stamps
    std::shared_ptr<ScreenCaptureMonitoring> screenMonitor_; // none: screen capture off
    std::string latestTranscript_;
    std::string latestSummary_;
    std::string lastTranscriptFingerprint_; // of the transcript latestSummary_ was made from
    bool isActive_ = false;
    bool isEnabled_ = true;
    std::int64_t intervalMinutes_ = 5; // 1...60
    bool isGenerating_ = false;
    // Counts the sessions started, so a pass of an earlier recording that is still running never
    // writes or publishes into a later one.
    std::uint64_t session_ = 0;
    std::string outputLanguage_ = "ja";
    SummaryProvider provider_ = SummaryProvider::llamaCppLocal;
    std::string prompt_;
    std::string localModel_ = "qwen2.5-7b-instruct-mlx-4bit";
    std::optional<std::string> localModelPath_;
    std::optional<std::string> providerModel_;
    std::optional<std::string> providerBaseURL_;
    // The running loop last; loops cancelled by a restart finish their pass here.
    std::list<Loop> loops_;

    // Declared last: drains before the fields above go. The loops are joined before it.
    platform::SerialExecutor executor_;
};

} // namespace velnote
