#pragma once

#include "app/state/AppState.h"
#include "platform/settings/SettingsStore.h"
#include "speech/live/LiveTranslationWorker.h"
#include "ui/recording/RecordingWindowActions.h"

#include <functional>

namespace velnote {

// What every part of the recording panel reads and calls. Main thread only.
struct RecordingViewContext {
    AppState* state = nullptr;
    platform::SettingsStore* settings = nullptr;
    RecordingWindowActions actions;
    LiveTranslationWorker* translation = nullptr;
    platform::Clock* clock = nullptr;

    bool recording() const { return state->recordingState().phase() == RecordingState::Phase::recording; }
    bool compact() const { return settings->boolean("recordingFloatingCompactModeEnabled"); }
    // "enableVoiceProcessing"; missing means on, as the launch registers it.
    bool voiceProcessing() const {
        return !settings->object("enableVoiceProcessing") || settings->boolean("enableVoiceProcessing");
    }
    bool displayInOutputLanguage() const {
        return settings->boolean("liveTranscriptDisplayInOutputLanguage");
    }
    // The transcript the panes show: the translation while it is displayed, else the live text.
    std::string sourceText() const {
        return displayInOutputLanguage() ? translation->translatedLiveTranscript()
                                         : state->fullLiveTranscript();
    }
};

} // namespace velnote
