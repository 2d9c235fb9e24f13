#pragma once

#include "app/shell/ShellWindows.h"
#include "ui/preview/core/SummaryPreviewState.h"

#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <map>

namespace velnote {

class SummaryPreviewView;

// One window per summary version file: asking for a version whose window is open brings that
// window forward; otherwise a window is built and kept in a table keyed by the file until it
// closes. The latest version's window keeps its frame in the settings under
// "SummaryPreview-<session folder>"; archived versions open centred at 860 x 600. Ctrl+W
// (the platform's close key) closes the active window. Main thread only.
class SummaryPreviewWindowController : public QWidget {
  public:
    // What every window's state is built with (the processing queue, the session monitor).
    using StateDependencies = SummaryPreviewState::Dependencies;

    // Shows the window of `version`, building it with `snapshot` when none is open.
    static void show(const SessionStatusSnapshot& snapshot, const SummaryVersion& version);
    // The open window of a version file, if any.
    static SummaryPreviewWindowController* openWindow(const std::filesystem::path& versionFile);
    // Closes the window of a version file, if one is open.
    static void closeWindow(const std::filesystem::path& versionFile);

    // The dependencies of windows built from now on; tests replace them.
    static void setStateDependencies(StateDependencies dependencies);

    SummaryPreviewView& view() const { return *view_; }
    const std::filesystem::path& versionURL() const { return versionURL_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    SummaryPreviewWindowController(const SessionStatusSnapshot& snapshot, const SummaryVersion& version);
    void saveFrame();
    static std::map<std::filesystem::path, SummaryPreviewWindowController*>& openControllers();

    std::filesystem::path versionURL_;
    std::string frameKey_; // empty for archived versions
    // Moving or resizing stores the frame once it has stayed put briefly.
    QTimer* frameSaver_ = nullptr;
    SummaryPreviewView* view_ = nullptr;
};

// The shell's summary preview over these windows: `windows.sessionMonitor` is looked up at each
// request, so a monitor installed later is used.
void installSummaryPreviewWindows(ShellWindows& windows);

} // namespace velnote
