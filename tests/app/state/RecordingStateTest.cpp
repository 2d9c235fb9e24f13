#include "app/state/RecordingState.h"

#include "session/l10n/L10n.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

TEST(RecordingStateTest, MenuTitleFollowsThePhase) {
    struct Case {
        RecordingState state;
        const char* key;
        const char* defaultText;
    };
    const Case cases[] = {
        {RecordingState::idle(), "L10n.Recording.startRecording", "Start Recording"},
        {RecordingState::starting(), "L10n.Recording.starting", "Starting..."},
        {RecordingState::recording(), "L10n.Recording.stopRecording", "Stop Recording"},
        {RecordingState::stopping(), "L10n.Recording.stopping", "Stopping..."},
        {RecordingState::error("disk full"), "L10n.Recording.error", "Error"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.state.menuTitle(), L10n::localized(c.key, c.defaultText)) << c.key;
    }
    // A start in progress says so, in both languages (it once showed the stopping text).
    EXPECT_NE(RecordingState::starting().menuTitle(), RecordingState::stopping().menuTitle());
}

TEST(RecordingStateTest, ErrorsAreEqualOnlyWithTheSameMessage) {
    EXPECT_EQ(RecordingState::error("a"), RecordingState::error("a"));
    EXPECT_NE(RecordingState::error("a"), RecordingState::error("b"));
    EXPECT_NE(RecordingState::error(""), RecordingState::idle());
    EXPECT_EQ(RecordingState(), RecordingState::idle());
    EXPECT_NE(RecordingState::starting(), RecordingState::stopping());
}

} // namespace
} // namespace velnote
