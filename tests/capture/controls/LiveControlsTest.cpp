#include "capture/controls/AudioMuteState.h"
#include "capture/controls/RecordingRuntimeSettings.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

TEST(LiveControlsTest, GainsAndMuteFlagsStartNeutralAndKeepWhatIsWritten) {
    RecordingRuntimeSettings gains;
    EXPECT_EQ(gains.micInputGain(), 1.0);
    EXPECT_EQ(gains.sysInputGain(), 1.0);
    gains.setMicInputGain(25.0); // clamping is the writer's business
    gains.setSysInputGain(0.1);
    EXPECT_EQ(gains.micInputGain(), 25.0);
    EXPECT_EQ(gains.sysInputGain(), 0.1);
    gains.setGains(2.0, 3.0);
    EXPECT_EQ(gains.micInputGain(), 2.0);
    EXPECT_EQ(gains.sysInputGain(), 3.0);

    AudioMuteState mutes;
    EXPECT_FALSE(mutes.micMuted());
    EXPECT_FALSE(mutes.sysMuted());
    mutes.setMicMuted(true);
    mutes.setSysMuted(true);
    EXPECT_TRUE(mutes.state().micMuted && mutes.state().sysMuted);
    SharedMuteFlags& shared = mutes; // how the application state clears them
    shared.clearAll();
    EXPECT_FALSE(mutes.micMuted());
    EXPECT_FALSE(mutes.sysMuted());
}

} // namespace
} // namespace velnote
