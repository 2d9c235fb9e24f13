#pragma once

#include "ui/recording/RecordingViewContext.h"
#include "ui/recording/RecordingWidgets.h"

#include <QWidget>

class QCheckBox;
class QSlider;
class QTimer;
class QToolButton;

namespace velnote {

// The panel's header: the recording dot, "Recording", the elapsed time, the layout button and,
// in the regular layout, the status line. Main thread only.
class RecordingHeader : public QWidget {
  public:
    explicit RecordingHeader(RecordingViewContext& context, QWidget* parent = nullptr);
    void refresh();

    QString elapsedText() const;
    QToolButton* layoutButton() const { return layoutButton_; }
    RecordingDot* dot() const { return dot_; }
    QLabel* statusLine() const { return status_; }
    bool elapsedTimerRunning() const;

  protected:
    void hideEvent(QHideEvent* event) override;

  private:
    void followRecordingState();

    RecordingViewContext& context_;
    RecordingDot* dot_;
    QLabel* elapsed_;
    QToolButton* layoutButton_;
    QLabel* status_;
    QTimer* timer_; // ticks once a second while recording and on screen
    platform::Clock::WallTime now_;
};

// One gain row: mute button, title, slider from 0.5 to `maxGain` in steps of 0.05, value text.
class GainSliderRow : public QWidget {
  public:
    struct Binding {
        std::function<double()> gain;
        std::function<void(double)> setGain;
        std::function<bool()> muted;
        std::function<void()> toggleMute;
    };
    GainSliderRow(QString title, double maxGain, Binding binding, QWidget* parent = nullptr);
    void refresh();

    QToolButton* muteButton() const { return mute_; }
    QSlider* slider() const { return slider_; }
    QLabel* valueText() const { return value_; }

  private:
    Binding binding_;
    QToolButton* mute_;
    QLabel* title_;
    QSlider* slider_;
    QLabel* value_;
    bool refreshing_ = false;
};

// One level meter row: "Mic" or "Sys", the bar and the percentage (or "MUTE").
class InputLevelRow : public QWidget {
  public:
    InputLevelRow(QString title, bool isMic, AppState& state, QWidget* parent = nullptr);
    void refresh();
    QLabel* levelText() const { return text_; }
    LevelBar* bar() const { return bar_; }

  private:
    bool isMic_;
    AppState& state_;
    QLabel* title_;
    LevelBar* bar_;
    QLabel* text_;
};

// The "volume" section: voice processing, both level meters and gain rows, and the restart of
// the system-audio stream.
class AudioControlsSection : public QWidget {
  public:
    explicit AudioControlsSection(RecordingViewContext& context, QWidget* parent = nullptr);
    void refresh();

    QCheckBox* voiceProcessing() const { return voiceProcessing_; }
    GainSliderRow* micGain() const { return micGain_; }
    GainSliderRow* sysGain() const { return sysGain_; }
    InputLevelRow* micLevel() const { return micLevel_; }
    InputLevelRow* sysLevel() const { return sysLevel_; }
    QToolButton* restartButton() const { return restart_; }

  private:
    RecordingViewContext& context_;
    QCheckBox* voiceProcessing_;
    InputLevelRow* micLevel_;
    GainSliderRow* micGain_;
    InputLevelRow* sysLevel_;
    QToolButton* restart_;
    GainSliderRow* sysGain_;
};

} // namespace velnote
