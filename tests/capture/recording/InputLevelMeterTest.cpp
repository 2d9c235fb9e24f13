#include "capture/recording/InputLevelMeter.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace velnote {
namespace {

// A buffer whose RMS is exactly `rms`.
std::vector<float> steady(float rms) {
    return std::vector<float>(1600, rms);
}

TEST(InputLevelMeterTest, LevelFollowsTheDecibelScaleOfTheGainedRms) {
    const double mic = InputLevelMeter::kMicMaxGain;
    const double sys = InputLevelMeter::kSysMaxGain;
    const struct {
        float rms;
        double gain;
        double maxGain;
        float level;
    } cases[] = {
        {0.0f, 1.0, mic, 0.0f},                 // silence
        {1.0f, 1.0, mic, 0.9f},                 // full scale
        {0.5f, 2.0, mic, 0.9f},                 // gained to full scale
        {0.5f, 25.0, mic, 0.9f},                // above full scale reads full scale
        {0.023713737f, 1.0, mic, 0.49930626f},  // -32.5 dBFS: half way, bent by 0.85
        {0.01f, 1.0, mic, 0.39949851f},         // -40 dBFS
        {0.01f, 0.1, mic, 0.31608673f},         // gain below 0.5 counts as 0.5
        {0.000316228f, 1.0, mic, 0.0f},         // -70 dBFS is below the scale
        {0.1f, 10.0, sys, 0.77533686f},         // the system side caps the gain at 3
        {0.1f, 10.0, mic, 0.9f},                // the microphone side at 20
        {0.1f, std::nan(""), sys, 0.77533686f}, // an unknown gain counts as the top
        {0.1f, 0.5, sys, 0.58274162f},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(InputLevelMeter::normalizedLevel(steady(c.rms), c.gain, c.maxGain), c.level, 1e-5)
            << "rms " << c.rms << " gain " << c.gain;
    }
    EXPECT_EQ(InputLevelMeter::normalizedLevel({}, 1.0, mic), 0.0f);
}

TEST(InputLevelMeterTest, PublishesEveryThirdBufferAndZeroWhileMuted) {
    InputLevelMeter meter(InputLevelMeter::kMicMaxGain);
    const std::vector<float> loud = steady(1.0f);
    EXPECT_FALSE(meter.next(loud, 1.0, false));
    EXPECT_FALSE(meter.next(loud, 1.0, false));
    EXPECT_NEAR(meter.next(loud, 1.0, false).value_or(-1), 0.9f, 1e-6);
    EXPECT_FALSE(meter.next(loud, 1.0, true));
    EXPECT_FALSE(meter.next(loud, 1.0, true));
    EXPECT_EQ(meter.next(loud, 1.0, true), 0.0f);
}

} // namespace
} // namespace velnote
