#pragma once

#include "ui/recording/RecordingFloatingView.h"
#include "ui/recording/RecordingWindowFrames.h"

#include <QObject>
#include <QTimer>
#include <QWidget>
#include <memory>

namespace velnote {

// The floating panel around the recording view: a tool window above ordinary windows that
// shows while a recording starts and runs and hides otherwise, remembers one frame per layout
// and refits itself when the layout changes or the view asks. Main thread only; the shell
// creates it at launch and keeps it for the life of the process.
class RecordingFloatingWindowController : public QObject {
  public:
    struct Dependencies {
        AppState* state = nullptr;                   // null: AppState::shared()
        platform::SettingsStore* settings = nullptr; // null: the standard store
        RecordingFloatingView::Dependencies view;    // its state and settings are set from the above
        // null: the desktop's screens, read at each use
        std::function<std::vector<PanelScreen>()> screens;
    };

    RecordingFloatingWindowController();
    explicit RecordingFloatingWindowController(Dependencies dependencies);
    ~RecordingFloatingWindowController() override;

    void show();
    void hide();
    void adjustWindowFrame(PanelLayout layout, std::optional<PanelSize> measuredContentSize);
    void saveWindowFrame();

    QWidget* panel() const { return panel_.get(); }
    RecordingFloatingView* view() const { return view_; }
    RecordingWindowFrames& frames() { return frames_; }
    // The panel's frame as the frames rules see it.
    PanelRect panelFrame() const;

    static std::vector<PanelScreen> desktopScreens();

  private:
    class Panel;

    void observeRecordingState();
    void defaultsChanged();
    void applyWindowFrameAdjustment(PanelLayout layout, std::optional<PanelSize> measured);
    void panelMoved();
    void panelResized();
    void refreshScreens();

    AppState& state_;
    platform::SettingsStore& settings_;
    std::function<std::vector<PanelScreen>()> screens_;
    RecordingWindowFrames frames_;
    std::unique_ptr<QWidget> panel_;
    RecordingFloatingView* view_ = nullptr;
    QSize lastFittedSize_;     // the size this controller gave the panel last
    QTimer settledTimer_;      // a move or resize by the user has ended when this fires
    bool userResized_ = false; // since the timer was armed
    AppState::ObservationToken recordingObservation_;
    platform::SettingsStore::ObserverToken settingsObservation_;
};

} // namespace velnote
