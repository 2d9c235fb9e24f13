#include "platform/text/RelativeDate.h"

#include <gtest/gtest.h>

namespace velnote::platform {
namespace {

using namespace std::chrono;

TEST(RelativeDateTest, TheLargestWholeUnitInWordsOfTheLocale) {
    const system_clock::time_point now = sys_days{2024y / 6 / 15} + 12h;
    struct Case {
        system_clock::duration age;
        const char* locale;
        const char* expected;
    };
    for (const Case& c : {
             Case{0s, "en_US", "in 0 seconds"},
             Case{59s, "en_US", "59 seconds ago"},
             Case{90s, "en_US", "1 minute ago"},
             Case{3h + 59min, "en_US", "3 hours ago"},
             Case{days(1), "en_US", "1 day ago"}, // numeric: never "yesterday"
             Case{days(13), "en_US", "1 week ago"},
             Case{days(45), "en_US", "1 month ago"},
             Case{days(800), "en_US", "2 years ago"},
             Case{-days(2), "en_US", "in 2 days"}, // a date ahead of the clock
             Case{3min, "ja_JP", "3 分前"},
         }) {
        EXPECT_EQ(relativeDateString(now - c.age, now, c.locale), c.expected)
            << c.locale << " " << duration_cast<seconds>(c.age).count() << "s";
    }
}

TEST(RelativeDateTest, AnUnknownLocaleStillGivesText) {
    const auto now = system_clock::now();
    EXPECT_FALSE(relativeDateString(now - 5min, now, "zz_ZZ").empty());
    EXPECT_FALSE(relativeDateString(now - 5min, now).empty());
}

} // namespace
} // namespace velnote::platform
