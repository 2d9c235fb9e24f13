#include "processing/sessions/NightlyBatchScheduler.h"

#include "app/state/AppState.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/SystemClock.h"
#include "platform/wake/SystemWakeObserver.h"
#include "platform/wake/WallClockTimer.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"
#include "session/settings/UserDefaults.h"

#include <ctime>

namespace velnote {
namespace {

using WallTime = platform::Clock::WallTime;
using std::chrono::system_clock;

constexpr auto kDay = std::chrono::hours(24);

std::optional<WallTime> fromLocal(std::tm local) {
    local.tm_isdst = -1; // let the calendar decide whether daylight-saving time applies that day
    const std::time_t t = std::mktime(&local);
    if (t == static_cast<std::time_t>(-1))
        return std::nullopt;
    return system_clock::from_time_t(t);
}

std::tm toLocal(WallTime date) {
    const std::time_t t = system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(date));
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

std::tm atHour(std::tm day, int hour) {
    day.tm_hour = hour;
    day.tm_min = 0;
    day.tm_sec = 0;
    return day;
}

// The run time at `hour` on the day `days` calendar days from `date` (or `fallback`).
WallTime onShiftedDay(WallTime date, int hour, int days, WallTime fallback) {
    auto shifted = toLocal(date);
    shifted.tm_mday += days;
    const auto shiftedDate = fromLocal(shifted);
    if (!shiftedDate)
        return fallback;
    return fromLocal(atHour(toLocal(*shiftedDate), hour)).value_or(*shiftedDate);
}

std::string describe(WallTime date) {
    const std::time_t t = system_clock::to_time_t(date);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &utc);
    return text;
}

} // namespace

NightlyBatchScheduler::NightlyBatchScheduler(BatchAction batchAction, Dependencies dependencies)
    : batchAction_(std::move(batchAction)), dependencies_(std::move(dependencies)) {
    auto& d = dependencies_;
    if (!d.settings)
        d.settings = &platform::SettingsStore::standard();
    if (!d.clock)
        d.clock = &platform::SystemClock::shared();
    if (!d.mainDispatcher)
        d.mainDispatcher = &platform::MainDispatcher::shared();
    if (!d.armTimer)
        d.armTimer = &platform::WallClockTimer::at;
    if (!d.observeWake) {
        d.observeWake = [main = d.mainDispatcher](std::function<void()> onWake) -> std::shared_ptr<void> {
            return std::make_shared<platform::SystemWakeObserver>(*main, std::move(onWake));
        };
    }
    if (!d.setStatusMessage) {
        d.setStatusMessage = [](std::string text) { AppState::shared().setStatusMessage(std::move(text)); };
    }
}

NightlyBatchScheduler::~NightlyBatchScheduler() {
    *alive_ = false;
    batchTimer_.cancel();
    wakeRegistration_.reset();
}

void NightlyBatchScheduler::schedule() {
    const auto& log = VelnoteLogger::processing();
    batchTimer_.cancel();
    if (!wakeRegistration_) {
        wakeRegistration_ = dependencies_.observeWake([this, alive = std::weak_ptr<bool>(alive_)] {
            if (auto a = alive.lock(); a && *a)
                handleWake();
        });
    }
    UserDefaults defaults(*dependencies_.settings);
    if (!defaults.boolean(UserDefaultsKey::nightlyBatch)) {
        log.info("nightly batch disabled");
        return;
    }
    const auto now = dependencies_.clock->wallNow();
    const auto last = lastExecutedDate();
    if (last && *last < previousRunTime(now, hour())) {
        log.info("detected missed nightly batch, running immediately");
        startRun();
        return;
    }
    const auto next = nextRunTime(now, hour());
    batchTimer_ = dependencies_.armTimer(next, *dependencies_.mainDispatcher, [this] { timerFired(); });
    dependencies_.setStatusMessage(L10n::localized("L10n.Recording.nightlyBatchScheduled",
                                                   "Nightly batch scheduled at %d:00",
                                                   {static_cast<std::int64_t>(hour())}));
    log.info("scheduled nightly batch at {}", describe(next));
}

void NightlyBatchScheduler::timerFired() {
    VelnoteLogger::processing().info("nightly batch timer fired");
    startRun();
}

void NightlyBatchScheduler::handleWake() {
    VelnoteLogger::processing().info("system woke up, rescheduling nightly batch");
    schedule();
}

WallTime NightlyBatchScheduler::nextRunTime(WallTime date, int hour) {
    if (const auto today = fromLocal(atHour(toLocal(date), hour)); today && *today > date)
        return *today;
    return onShiftedDay(date, hour, 1, date + kDay);
}

WallTime NightlyBatchScheduler::previousRunTime(WallTime date, int hour) {
    if (const auto today = fromLocal(atHour(toLocal(date), hour)); today && *today < date)
        return *today;
    return onShiftedDay(date, hour, -1, date - kDay);
}

int NightlyBatchScheduler::hour() const {
    const auto stored = UserDefaults(*dependencies_.settings).integer(UserDefaultsKey::nightlyBatchHour);
    return stored >= 0 && stored <= 23 ? static_cast<int>(stored) : kFallbackHour;
}

std::optional<WallTime> NightlyBatchScheduler::lastExecutedDate() const {
    return UserDefaults(*dependencies_.settings).date(UserDefaultsKey::lastNightlyBatchDate);
}

void NightlyBatchScheduler::startRun() {
    const auto startedAt = std::chrono::floor<std::chrono::seconds>(dependencies_.clock->wallNow());
    UserDefaults(*dependencies_.settings)
        .set(UserDefaultsKey::lastNightlyBatchDate, platform::SettingsDate(startedAt));
    auto* main = dependencies_.mainDispatcher;
    main->post([this, main, alive = std::weak_ptr<bool>(alive_)] {
        if (auto a = alive.lock(); !a || !*a)
            return;
        batchAction_([this, main, alive] {
            main->post([this, alive] {
                if (auto a = alive.lock(); a && *a)
                    schedule();
            });
        });
    });
}

} // namespace velnote
