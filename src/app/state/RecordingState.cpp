#include "app/state/RecordingState.h"

#include "session/l10n/L10n.h"

namespace velnote {

std::string RecordingState::menuTitle() const {
    switch (phase_) {
    case Phase::idle:
        return L10n::localized("L10n.Recording.startRecording", "Start Recording");
    case Phase::starting:
        return L10n::localized("L10n.Recording.starting", "Starting...");
    case Phase::stopping:
        return L10n::localized("L10n.Recording.stopping", "Stopping...");
    case Phase::recording:
        return L10n::localized("L10n.Recording.stopRecording", "Stop Recording");
    case Phase::error:
        return L10n::localized("L10n.Recording.error", "Error");
    }
    return {};
}

} // namespace velnote
