#pragma once

#include "session/folder/SessionStatusSnapshot.h"
#include "session/folder/SummaryVersion.h"

#include <memory>
#include <string>

namespace velnote {

// A window the tray menu or a notification opens: show() centres it when it is not visible yet,
// shows it and brings the application forward. Main thread; no failure.
class ShowableWindow {
  public:
    virtual ~ShowableWindow() = default;
    virtual void show() = 0;
};

// The summary preview: brings forward the open window of `version`'s file, else opens one.
class SummaryPreviewWindows {
  public:
    virtual ~SummaryPreviewWindows() = default;
    virtual void show(const SessionStatusSnapshot& session, const SummaryVersion& version) = 0;
};

// The windows the shell opens. Each window's own subsystem installs its controller at launch
// (before the menu is built); until then the slot holds a stand-in that logs the request, so a
// menu item never does something half-way.
struct ShellWindows {
    std::shared_ptr<ShowableWindow> preferences;
    std::shared_ptr<ShowableWindow> userDictionary;
    std::shared_ptr<ShowableWindow> hallucinationFilter;
    std::shared_ptr<ShowableWindow> modelManagement;
    std::shared_ptr<ShowableWindow> sessionMonitor;
    std::shared_ptr<ShowableWindow> about;
    std::shared_ptr<SummaryPreviewWindows> summaryPreview;
    // The floating recording panel's controller: created at launch, it follows the recording
    // state by itself; the shell only keeps it alive.
    std::shared_ptr<void> recordingWindow;

    // Every slot a logging stand-in (recordingWindow stays empty).
    static ShellWindows standIns();
};

// A window not built yet: logs "<name> window is not available yet" (category "app").
std::shared_ptr<ShowableWindow> makeUnavailableWindow(std::string name);

} // namespace velnote
