#include "context/activity/engine/ActivityRecords.h"

#include "platform/json/IsoDate.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using namespace std::chrono_literals;

TEST(ActivityTime, WritesMillisecondsAndReadsBothForms) {
    const ActivityTime base(*platform::parseIsoDate("2025-01-31T09:15:00Z"));
    EXPECT_EQ(formatActivityTime(base + 250ms), "2025-01-31T09:15:00.250Z");
    EXPECT_EQ(formatActivityTime(base), "2025-01-31T09:15:00.000Z");
    struct Case {
        const char* text;
        std::optional<ActivityTime> expected;
    };
    const Case cases[] = {
        {"2025-01-31T09:15:00.250Z", base + 250ms},
        {"2025-01-31T09:15:00.2Z", base + 200ms},
        {"2025-01-31T09:15:00.123456789Z", base + 123ms},
        {"2025-01-31T09:15:00Z", base},
        {"2025-01-31T18:15:00+09:00", base},
        {"2025-01-31T09:15:00.Z", std::nullopt},
        {"2025-01-31T09:15:00.25", std::nullopt},
        {"2025-01-31 09:15:00Z", std::nullopt},
        {"2025-02-30T09:15:00.000Z", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseActivityTime(c.text), c.expected);
    }
}

TEST(ActivityRecords, FinalizedEntryUsesTheFallbackPurposeAndRoundsTheDuration) {
    const ActivityTime start(*platform::parseIsoDate("2025-01-31T09:15:00Z"));
    ActivityState activity{.id = "act_000003",
                           .startTime = start,
                           .lastUpdateTime = start + 2500ms,
                           .appNames = {"editor"},
                           .screenTypes = {"editor"},
                           .eventCount = 2};
    auto entry = makeFinalizedEntry(activity);
    EXPECT_EQ(entry.durationSec, 3); // halves away from zero
    EXPECT_EQ(entry.purpose, "editor");
    activity.lastUpdateTime = start - 5s;
    EXPECT_EQ(makeFinalizedEntry(activity).durationSec, 0);
}

TEST(ActivityRecords, FallbackSummaryTakesTheFirstNonEmptyLabel) {
    ActivityState activity{.appNames = {"app"}};
    EXPECT_EQ(fallbackSummary(activity), "app");
    activity.descriptions = {"first", "last"};
    EXPECT_EQ(fallbackSummary(activity), "last");
    activity.screenTypes = {"chat"};
    EXPECT_EQ(fallbackSummary(activity), "chat");
    activity.services = {"Mail"};
    EXPECT_EQ(fallbackSummary(activity), "Mail");
    activity.intent = "mailing";
    EXPECT_EQ(fallbackSummary(activity), "mailing");
    activity.purpose = "answering mail";
    EXPECT_EQ(fallbackSummary(activity), "answering mail");
    EXPECT_EQ(fallbackSummary(ActivityState{}), "");
}

TEST(ActivityRecords, StateFileRoundTripsAndEveryKeyIsRequired) {
    const ActivityStateFile file{
        .version = 1,
        .updatedAt = "2025-01-31T09:15:00.000Z",
        .currentActivities = {{.activityID = "act_000001", .status = "soft_finalized"}}};
    const platform::Json json = file;
    EXPECT_EQ(platform::decode<ActivityStateFile>(json), file);
    platform::Json missing = json;
    missing["current_activities"][0].erase("descriptions");
    EXPECT_THROW(platform::decode<ActivityStateFile>(missing), platform::JsonDecodeError);
}

} // namespace
} // namespace velnote
