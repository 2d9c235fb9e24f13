#include "speech/chunks/ChunkOffset.h"

#include "platform/logging/Logger.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

TEST(ChunkOffset, NumberInTheNameElseTheListPosition) {
    struct Case {
        const char* name;
        std::size_t position;
        float offset;
    };
    for (const auto& c :
         {Case{"mic_0003.wav", 9, 30}, Case{"mix_m1.00_s1.00_0012.wav", 0, 120}, Case{"take.wav", 3, 30},
          Case{"sys_abc.wav", 5, 50}, Case{"sys_.wav", 2, 20}, Case{"mic_0003", 4, 40}, Case{"a.b_7", 1, 10},
          Case{"mic_+5.wav", 0, 50}, Case{"mic_-2.wav", 0, -20}, Case{"mic_1 .wav", 6, 60},
          Case{"mic_99999999999999999999.wav", 7, 70}, Case{"mic_4320.wav", 0, 43200}}) {
        EXPECT_EQ(chunkStartOffset(std::string("/s/audio/") + c.name, c.position), c.offset) << c.name;
    }
}

// A crafted number would put the chunk days into the recording: its list position is taken.
TEST(ChunkOffset, ANumberBeyondTwelveHoursTakesTheListPosition) {
    platform::LogCapture log;
    EXPECT_EQ(chunkStartOffset("mic_99999999999.wav", 5), 50.0f);
    EXPECT_EQ(chunkStartOffset("mic_4321.wav", 1), 10.0f);
    EXPECT_EQ(chunkStartOffset("mic_-9999.wav", 2), 20.0f);
    EXPECT_TRUE(log.contains("mic_99999999999.wav"));
}

} // namespace
} // namespace velnote
