#pragma once

#include "app/state/AppState.h"
#include "platform/concurrency/Executor.h"
#include "session/folder/SessionDirectoryResolver.h"

namespace velnote {

// What the shell does when the chosen saved-sessions folder can no longer be used: the message
// goes to the status line and an alert, on the main thread. Without a recording the error is
// fatal (the record item shows the error until the alert is closed); during a recording it is
// not, because a fatal error stops the running recording and the capture must go on.
// The reporter may be called on any thread; it only posts.
SessionDirectoryResolver::ErrorReporter savedSessionsFolderErrorReporter(AppState& appState,
                                                                         platform::Executor& mainDispatcher);

} // namespace velnote
