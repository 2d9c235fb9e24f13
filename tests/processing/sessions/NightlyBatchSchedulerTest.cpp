#include "processing/sessions/NightlyBatchScheduler.h"

#include "platform/concurrency/MainDispatcher.h"
#include "platform/json/IsoDate.h"
#include "session/l10n/L10n.h"
#include "support/TempDir.h"

#include <ctime>
#include <gtest/gtest.h>

namespace velnote {
namespace {

using WallTime = platform::Clock::WallTime;

WallTime at(const std::string& iso) {
    return *platform::parseIsoDate(iso);
}

std::string iso(WallTime time) {
    return platform::formatIsoDate(std::chrono::floor<std::chrono::seconds>(time));
}

// Daylight-saving rules are those of Berlin for every test here.
class BerlinTime : public ::testing::Test {
  protected:
    BerlinTime() { ::tzset(); }
    ~BerlinTime() override { ::tzset(); }
    testing::ScopedEnv tz{"TZ", "Europe/Berlin"};
};

using NightlyRunTimeTest = BerlinTime;

TEST_F(NightlyRunTimeTest, NextAndPreviousFollowTheLocalCalendarAcrossDaylightSaving) {
    struct Case {
        const char* now;
        int hour;
        const char* next;
        const char* previous;
    } cases[] = {
        // Winter: 02:00 CET is 01:00Z.
        {"2025-01-15T00:30:00Z", 2, "2025-01-15T01:00:00Z", "2025-01-14T01:00:00Z"},
        {"2025-01-15T01:00:00Z", 2, "2025-01-16T01:00:00Z", "2025-01-14T01:00:00Z"}, // exactly 02:00
        // Spring forward on 30 March: 03:00 CEST follows 01:59 CET, so the run is 23 h after the last.
        {"2025-03-29T11:00:00Z", 3, "2025-03-30T01:00:00Z", "2025-03-29T02:00:00Z"},
        {"2025-03-30T10:00:00Z", 2, "2025-03-31T00:00:00Z", "2025-03-30T01:00:00Z"},
        // Fall back on 26 October: 09:00 CET is 25 h after 09:00 CEST the day before.
        {"2025-10-25T10:00:00Z", 9, "2025-10-26T08:00:00Z", "2025-10-25T07:00:00Z"},
        {"2025-10-26T12:00:00Z", 23, "2025-10-26T22:00:00Z", "2025-10-25T21:00:00Z"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(iso(NightlyBatchScheduler::nextRunTime(at(c.now), c.hour)), c.next) << c.now;
        EXPECT_EQ(iso(NightlyBatchScheduler::previousRunTime(at(c.now), c.hour)), c.previous) << c.now;
    }
}

class NightlyBatchSchedulerTest : public BerlinTime {
  protected:
    struct FakeTimer final : platform::Timer::Control {
        void cancel() override { active = false; }
        bool isActive() const override { return active; }
        bool active = true;
    };

    NightlyBatchSchedulerTest() : settings(temp / "settings.json") {
        NightlyBatchScheduler::Dependencies deps;
        deps.settings = &settings;
        deps.clock = &clock;
        deps.mainDispatcher = &main;
        deps.armTimer = [this](WallTime due, platform::Executor&, platform::Job fired) {
            armed.push_back(iso(due));
            lastTimer = std::make_shared<FakeTimer>();
            fire = std::move(fired);
            return platform::Timer(lastTimer);
        };
        deps.observeWake = [this](std::function<void()> onWake) -> std::shared_ptr<void> {
            wake = std::move(onWake);
            return std::make_shared<int>(0);
        };
        deps.setStatusMessage = [this](std::string text) { status = std::move(text); };
        scheduler.emplace(
            [this](std::function<void()> finished) {
                ++runs;
                finishRun = std::move(finished);
            },
            deps);
        settings.set("nightlyBatch", true);
        settings.set("nightlyBatchHour", 2);
    }

    struct SettableClock final : platform::Clock {
        SteadyTime now() const override { return {}; }
        WallTime wallNow() const override { return wall; }
        WallTime wall = at("2025-01-15T08:00:00Z"); // 09:00 CET
    };

    void setNow(const char* isoTime) { clock.wall = at(isoTime); }
    std::string lastRun() const { return iso(*settings.date("lastNightlyBatchDate")); }

    testing::TempDir temp;
    platform::SettingsStore settings;
    SettableClock clock;
    platform::MainDispatcher main;
    std::vector<std::string> armed;
    std::shared_ptr<FakeTimer> lastTimer;
    platform::Job fire;
    std::function<void()> wake;
    std::function<void()> finishRun;
    std::string status;
    int runs = 0;
    std::optional<NightlyBatchScheduler> scheduler;
};

TEST_F(NightlyBatchSchedulerTest, MissedRunStartsAtOnceThenArmsForTheNextNight) {
    settings.set("lastNightlyBatchDate",
                 platform::SettingsDate(*platform::parseIsoDate("2025-01-14T01:00:00Z")));
    scheduler->schedule();
    EXPECT_TRUE(armed.empty());
    EXPECT_TRUE(status.empty());
    EXPECT_EQ(lastRun(), "2025-01-15T08:00:00Z"); // stored before the work starts

    main.runPending();
    ASSERT_EQ(runs, 1);
    finishRun();
    main.runPending();
    EXPECT_EQ(armed, std::vector<std::string>{"2025-01-16T01:00:00Z"});
    EXPECT_EQ(status, L10n::localized("L10n.Recording.nightlyBatchScheduled", "", {std::int64_t{2}}));
    EXPECT_EQ(runs, 1);
}

TEST_F(NightlyBatchSchedulerTest, RecentOrMissingLastRunOnlyArmsTheTimer) {
    setNow("2025-01-15T00:30:00Z"); // 01:30 CET, last run yesterday 02:00
    settings.set("lastNightlyBatchDate",
                 platform::SettingsDate(*platform::parseIsoDate("2025-01-14T01:00:00Z")));
    scheduler->schedule();
    settings.remove("lastNightlyBatchDate");
    setNow("2025-01-15T12:00:00Z");
    scheduler->schedule();
    main.runPending();
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(armed, (std::vector<std::string>{"2025-01-15T01:00:00Z", "2025-01-16T01:00:00Z"}));
}

TEST_F(NightlyBatchSchedulerTest, HourOutsideTheDayMeansTwoAndAbsentMeansMidnight) {
    for (std::int64_t hour : {24, 99, -1}) {
        settings.set("nightlyBatchHour", hour);
        scheduler->schedule();
        EXPECT_EQ(armed.back(), "2025-01-16T01:00:00Z") << hour;
        EXPECT_EQ(status, "Nightly batch scheduled at 2:00");
    }
    settings.remove("nightlyBatchHour");
    scheduler->schedule();
    EXPECT_EQ(armed.back(), "2025-01-15T23:00:00Z");
    EXPECT_EQ(status, "Nightly batch scheduled at 0:00");
}

TEST_F(NightlyBatchSchedulerTest, HourMovedEarlierAfterALateRunCatchesUp) {
    settings.set("nightlyBatchHour", 23);
    settings.set("lastNightlyBatchDate",
                 platform::SettingsDate(*platform::parseIsoDate("2025-01-14T22:00:00Z")));
    scheduler->schedule();
    EXPECT_EQ(runs + static_cast<int>(armed.size()), 1); // armed for 23:00 tonight
    settings.set("nightlyBatchHour", 2);
    scheduler->schedule(); // the settings notification
    main.runPending();
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(lastTimer->isActive());
}

TEST_F(NightlyBatchSchedulerTest, DisablingCancelsTheTimerAndKeepsTheStatusLine) {
    scheduler->schedule();
    const auto shown = status;
    settings.set("nightlyBatch", false);
    scheduler->schedule();
    EXPECT_FALSE(lastTimer->isActive());
    EXPECT_EQ(status, shown);
    EXPECT_EQ(armed.size(), 1u);
}

TEST_F(NightlyBatchSchedulerTest, TimerAndWakeEachStartOneRun) {
    scheduler->schedule();
    ASSERT_TRUE(wake); // subscribed on the first schedule()
    setNow("2025-01-16T01:00:00Z");
    fire();
    main.runPending();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(lastRun(), "2025-01-16T01:00:00Z");
    finishRun();
    main.runPending();
    EXPECT_EQ(armed.back(), "2025-01-17T01:00:00Z");

    // Asleep through the next night: the wake catches up once.
    setNow("2025-01-17T07:00:00Z");
    wake();
    wake();
    main.runPending();
    EXPECT_EQ(runs, 2);
}

} // namespace
} // namespace velnote
