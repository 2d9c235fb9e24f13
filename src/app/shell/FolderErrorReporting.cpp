#include "app/shell/FolderErrorReporting.h"

namespace velnote {

SessionDirectoryResolver::ErrorReporter savedSessionsFolderErrorReporter(AppState& appState,
                                                                         platform::Executor& mainDispatcher) {
    return [&appState, &mainDispatcher](const std::string& message) {
        mainDispatcher.post([&appState, message] {
            appState.presentError(message, appState.recordingState() == RecordingState::idle());
        });
    };
}

} // namespace velnote
