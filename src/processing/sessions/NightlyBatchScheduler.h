#pragma once

// Runs the nightly batch once a day at the configured local hour ("nightlyBatchHour", 0-23, any
// other value meaning 2; absent 0) while "nightlyBatch" is on. A run missed while the computer
// slept or the application was not running (the last run, "lastNightlyBatchDate", is older than
// the most recent scheduled time) starts at once. The scheduler re-arms itself after each run, on
// every wake from sleep and whenever the shell calls schedule() after a settings change.
//
// Main thread only. The timer is a wall-clock one, so it fires right after a resume that slept
// past its time; the local calendar (TZ) decides the hour, daylight-saving days included.

#include "platform/concurrency/Clock.h"
#include "platform/concurrency/Executor.h"
#include "platform/concurrency/Timer.h"
#include "platform/settings/SettingsStore.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velnote {

class NightlyBatchScheduler {
  public:
    // The work of one run. Called on the main thread; calls `finished` (from any thread) when the
    // work is over, successful or not.
    using BatchAction = std::function<void(std::function<void()> finished)>;
    // Arms a one-shot timer that posts `fired` to `target` at the wall time `due`.
    using ArmTimer = std::function<platform::Timer(platform::Clock::WallTime due, platform::Executor& target,
                                                   platform::Job fired)>;
    // Calls `onWake` on the main thread after each resume until the returned registration goes.
    using ObserveWake = std::function<std::shared_ptr<void>(std::function<void()> onWake)>;

    struct Dependencies {
        platform::SettingsStore* settings = nullptr;  // nullptr = SettingsStore::standard()
        const platform::Clock* clock = nullptr;       // wallNow() is the current date; nullptr = system
        platform::Executor* mainDispatcher = nullptr; // nullptr = MainDispatcher::shared()
        ArmTimer armTimer;                            // empty = WallClockTimer::at
        ObserveWake observeWake;                      // empty = logind's PrepareForSleep on the system bus
        // The tray's status line; empty = AppState::shared().setStatusMessage.
        std::function<void(std::string)> setStatusMessage;
    };

    // The default hour for a stored value outside 0-23.
    static constexpr int kFallbackHour = 2;

    NightlyBatchScheduler(BatchAction batchAction, Dependencies dependencies);
    explicit NightlyBatchScheduler(BatchAction batchAction)
        : NightlyBatchScheduler(std::move(batchAction), {}) {}
    ~NightlyBatchScheduler();

    NightlyBatchScheduler(const NightlyBatchScheduler&) = delete;
    NightlyBatchScheduler& operator=(const NightlyBatchScheduler&) = delete;

    // (Re)arms the batch, or runs a missed one at once (which re-arms when it has finished).
    // Subscribes to wake-ups on its first call, even when the batch is off.
    void schedule();
    // The timer's action: starts a run.
    void timerFired();
    // After a resume from sleep: schedule() again.
    void handleWake();

    bool isTimerArmed() const { return batchTimer_.isActive(); }

    // The first time strictly after `date` at `hour`:00 local time (the next day's when today's
    // has passed); `date` + 24 h when the calendar cannot say.
    static platform::Clock::WallTime nextRunTime(platform::Clock::WallTime date, int hour);
    // The last time strictly before `date` at `hour`:00 local time; `date` - 24 h as fallback.
    static platform::Clock::WallTime previousRunTime(platform::Clock::WallTime date, int hour);

  private:
    int hour() const;
    std::optional<platform::Clock::WallTime> lastExecutedDate() const;
    void startRun();

    BatchAction batchAction_;
    Dependencies dependencies_;
    platform::Timer batchTimer_;
    std::shared_ptr<void> wakeRegistration_;                     // set once subscribed
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true); // lets late completions see we are gone
};

} // namespace velnote
