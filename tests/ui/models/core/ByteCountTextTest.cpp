#include "ui/models/core/ByteCountText.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

TEST(ByteCountTextTest, MegabytesBelowAGigabyteThenGigabytes) {
    struct Case {
        std::int64_t bytes;
        const char* expected;
    };
    for (const Case& c :
         {Case{0, "0 MB"}, Case{-5, "0 MB"}, Case{1, "0.1 MB"}, Case{1'500'000, "1.5 MB"},
          Case{2'000'000, "2 MB"}, Case{345'640'000, "345.6 MB"}, Case{999'940'000, "999.9 MB"},
          Case{999'960'000, "1 GB"}, Case{1'234'567'890, "1.23 GB"}, Case{4'700'000'000, "4.7 GB"},
          Case{INT64_MAX, "9223372036.85 GB"}}) {
        EXPECT_EQ(formatByteCount(c.bytes), c.expected) << c.bytes;
    }
}

} // namespace
} // namespace velnote
