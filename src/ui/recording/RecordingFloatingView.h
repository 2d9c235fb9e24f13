#pragma once

#include "ui/recording/RecordingActionViews.h"
#include "ui/recording/RecordingHeaderViews.h"
#include "ui/recording/RecordingLivePanes.h"
#include "ui/recording/RecordingViewContext.h"

#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>

class QPushButton;

namespace velnote {

// One collapsible section: a header button (chevron, title, symbol) over its content. The
// content is shown only while the section is open and the panel is visible.
class AccordionSection : public QWidget {
  public:
    AccordionSection(std::string id, const QString& title, std::string_view symbol, QWidget* content,
                     QWidget* parent = nullptr);
    void setOpen(bool open, bool panelVisible);
    QPushButton* headerButton() const { return header_; }
    QWidget* content() const { return content_; }
    const std::string& id() const { return id_; }

  private:
    std::string id_;
    QPushButton* header_ = nullptr;
    SymbolLabel* chevron_;
    QLabel* title_;
    QWidget* content_;
};

// The content of the recording panel: the header, then four collapsible sections (regular
// layout) or a waveform and the latest transcript line (compact layout), then the action row.
// It tells AppState which sections are on screen, so live values are published only where
// somebody looks, and asks its window for a new size when the layout changes. Main thread only.
//
// Settings it owns: "recordingFloatingOpenSections" (open section ids, sorted, ","-joined;
// "volume" at first), "recordingFloatingCompactModeEnabled" and
// "liveTranscriptDisplayInOutputLanguage".
class RecordingFloatingView : public QWidget {
  public:
    struct Dependencies {
        AppState* state = nullptr;                     // null: AppState::shared()
        platform::SettingsStore* settings = nullptr;   // null: the standard store
        platform::Clock* clock = nullptr;              // null: the system clock
        std::optional<RecordingWindowActions> actions; // none: RecordingWindowActions::defaults()
        LiveTranslationWorkerDependencies translation;
    };

    explicit RecordingFloatingView(Dependencies dependencies, QWidget* parent = nullptr);
    ~RecordingFloatingView() override;

    // The window's answer to a new size: called with the measured content or none.
    std::function<void(std::optional<PanelSize>)> onResizeRequested;

    const std::set<std::string>& openSectionIds() const { return openSectionIds_; }
    void toggleSection(const std::string& id);
    void syncSectionActivity();

    AccordionSection* section(std::string_view id) const;
    RecordingHeader* header() const { return header_; }
    AudioControlsSection* audio() const { return audio_; }
    ActivitySection* activity() const { return activity_; }
    TranscriptSection* transcript() const { return transcript_; }
    SummarySection* summary() const { return summary_; }
    ActionRow* actionRow() const { return actionRow_; }
    CompactWaveform* waveform() const { return waveform_; }
    CompactLatestLine* latestLine() const { return latestLine_; }
    QWidget* compactArea() const { return compactArea_; }
    QWidget* sectionArea() const { return sectionArea_; }
    LiveTranslationWorker& translation() { return *translation_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void restoreOpenSectionState();
    void refresh();
    void settingChanged(const std::string& key);
    void layoutChanged();
    void measuredHeightChanged(double& stored, double height, double other);
    void requestResize(std::optional<PanelSize> size);

    std::unique_ptr<LiveTranslationWorker> translation_;
    RecordingViewContext context_;
    std::set<std::string> openSectionIds_;
    PanelSize regularContentSize_;
    double compactHeaderHeight_ = 0;
    double compactActionHeight_ = 0;
    bool appeared_ = false;
    bool voiceProcessing_ = true; // the setting as the microphone capture last saw it

    RecordingHeader* header_ = nullptr;
    AudioControlsSection* audio_ = nullptr;
    ActivitySection* activity_ = nullptr;
    TranscriptSection* transcript_ = nullptr;
    SummarySection* summary_ = nullptr;
    std::vector<AccordionSection*> sections_;
    QWidget* sectionArea_ = nullptr;
    QWidget* compactArea_ = nullptr;
    CompactWaveform* waveform_ = nullptr;
    CompactLatestLine* latestLine_ = nullptr;
    QWidget* actionArea_ = nullptr;
    ActionRow* actionRow_ = nullptr;
    AppState::ObservationToken stateObservation_;
    platform::SettingsStore::ObserverToken settingsObservation_;
};

} // namespace velnote
