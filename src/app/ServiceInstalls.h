#pragma once

#include "app/shell/ShellWindows.h"
#include "capture/controller/AudioCaptureManager.h"

#include <functional>

namespace velnote {

class SessionListController;

// What the subsystems that provide services to the running application fill in at launch.
struct ServiceInstallContext {
    // The live services a recording runs (live transcription, live summary, screen capture,
    // displays, region picker, foreground tracking); the shell hands them to the recording
    // controller afterwards. A slot left empty: recordings go on without that part.
    RecordingServices& recording;
    // The windows the tray menu and the notifications open; each starts as a stand-in.
    ShellWindows& windows;
    // The snapshots and folder actions on the processing queue, made on first use (after the
    // instance lock); only to be called once the application runs.
    std::function<SessionListController&()> sessionList;
};

// The install point: runs once on the main thread, after the main loop is bound and before the
// launch sequence starts the recording controller, the processing queue and the menu. Each
// subsystem adds one call to its own installer here (ServiceInstalls.cpp), for example
// SessionSummaryService::install(...) for the summary step, or a window controller into
// `context.windows`.
void installServices(ServiceInstallContext& context);

} // namespace velnote
