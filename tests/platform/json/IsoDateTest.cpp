#include "platform/json/IsoDate.h"

#include <gtest/gtest.h>

namespace velnote::platform {
namespace {

using namespace std::chrono;

constexpr sys_seconds at(year_month_day date, int h, int m, int s) {
    return sys_days(date) + hours(h) + minutes(m) + seconds(s);
}

TEST(IsoDateTest, ParsesZuluAndOffsetsToUtc) {
    const struct {
        const char* text;
        sys_seconds expected;
    } cases[] = {
        {"2025-01-31T09:15:00Z", at(2025y / January / 31, 9, 15, 0)},
        {"2025-01-31T09:15:00+09:00", at(2025y / January / 31, 0, 15, 0)},
        {"2025-01-31T20:00:00-05:30", at(2025y / February / 1, 1, 30, 0)},
        {"2025-01-01T00:00:00+00:30", at(2024y / December / 31, 23, 30, 0)},
        {"2024-02-29T23:59:59Z", at(2024y / February / 29, 23, 59, 59)},
        {"1969-12-31T23:59:59Z", sys_seconds(seconds(-1))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseIsoDate(c.text), c.expected);
    }
}

TEST(IsoDateTest, RefusesMalformedText) {
    for (const char* text : {
             "2025-01-31T09:15:00.5Z",    // fractional seconds
             "2025-01-31T09:15:00.000Z",  //
             "2025-02-30T09:15:00Z",      // no Feb 30
             "2023-02-29T09:15:00Z",      // not a leap year
             "2025-13-01T09:15:00Z",      // month
             "2025-00-10T09:15:00Z",      //
             "2025-04-31T09:15:00Z",      // day
             "2025-01-31T24:00:00Z",      // hour
             "2025-01-31T09:60:00Z",      // minute
             "2025-01-31T09:15:60Z",      // leap second
             "2025-01-31 09:15:00Z",      // missing T
             "2025-01-31T09:15:00",       // no zone
             "2025-01-31T09:15:00Zjunk",  // trailing garbage
             "2025-01-31T09:15:00+0900",  // offset without colon
             "2025-01-31T09:15:00+09",    //
             "2025-01-31T09:15:00+24:00", // offset range
             "2025-01-31t09:15:00z",      // lowercase
             " 2025-01-31T09:15:00Z",     // white space
             "2025-1-31T09:15:00Z",       // short field
             "+025-01-31T09:15:00Z",      //
             "2025-01-31",                // date only
             "",
             "9999-12-31T23:30:00-01:00", // year 10000 in UTC, which would be written back unreadable
             "0000-01-01T00:30:00+01:00", // year -1 in UTC
         }) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parseIsoDate(text), std::nullopt);
    }
}

TEST(IsoDateTest, FormatsUtcWholeSecondsAndRoundTrips) {
    const sys_seconds time = at(2025y / January / 31, 9, 15, 0);
    EXPECT_EQ(formatIsoDate(time), "2025-01-31T09:15:00Z");
    EXPECT_EQ(formatIsoDate(time + milliseconds(999)), "2025-01-31T09:15:00Z");
    EXPECT_EQ(formatIsoDate(sys_time<milliseconds>(milliseconds(-1))), "1969-12-31T23:59:59Z");
    for (const sys_seconds t : {time, at(2024y / February / 29, 0, 0, 0), at(0y / January / 1, 0, 0, 0),
                                at(9999y / December / 31, 23, 59, 59), at(1999y / December / 31, 23, 59, 59),
                                sys_seconds(seconds(0))}) {
        EXPECT_EQ(parseIsoDate(formatIsoDate(t)), t) << formatIsoDate(t);
    }
}

TEST(IsoDateTest, JsonFieldsUseTheStrictParser) {
    const Json object =
        parseJson(R"({"good":"2025-01-31T09:15:00Z","fraction":"2025-01-31T09:15:00.5Z","n":5})");
    EXPECT_EQ(required<sys_seconds>(object, "good"), at(2025y / January / 31, 9, 15, 0));
    EXPECT_EQ(optional<sys_seconds>(object, "missing"), std::nullopt);
    for (const char* key : {"fraction", "n"}) {
        try {
            optional<sys_seconds>(object, key);
            ADD_FAILURE() << key << " accepted";
        } catch (const JsonDecodeError& e) {
            EXPECT_EQ(e.path(), key);
        }
    }
}

} // namespace
} // namespace velnote::platform
