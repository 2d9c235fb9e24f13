#pragma once

#include "app/shell/ShellWindows.h"
#include "ui/monitor/core/SessionMonitorModel.h"

#include <memory>

class QWidget;

namespace velnote {

class SessionMonitorView;

// The one "Session Status" window of the process. Made at the first show() and kept for the rest
// of the process: closing it (its close button or Ctrl+W while it is the active window) only
// hides it, and its filters, search text and rows' state are there again at the next show(),
// which centres it anew. Main thread.
class SessionMonitorWindowController final : public ShowableWindow {
  public:
    // `dependencies` are handed to the window's model when the window is made.
    explicit SessionMonitorWindowController(SessionMonitorModel::Dependencies dependencies);
    ~SessionMonitorWindowController() override;

    void show() override;

    // The window, once made; nullptr before the first show().
    SessionMonitorView* view() const { return view_.get(); }

  private:
    SessionMonitorModel::Dependencies dependencies_;
    std::unique_ptr<SessionMonitorView> view_;
};

} // namespace velnote
