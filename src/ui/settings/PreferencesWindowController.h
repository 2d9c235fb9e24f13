#pragma once

#include "app/shell/ShellWindows.h"
#include "platform/concurrency/Executor.h"
#include "platform/concurrency/TimerScheduler.h"
#include "ui/settings/FormBindings.h"
#include "ui/settings/PreferencesState.h"
#include "ui/settings/SettingsComponents.h"

#include <QDialog>
#include <memory>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace velnote {

class PermissionRow;

// The preferences window: one form of six sections (Save Location, General, Transcription,
// Screen Capture, AI Summary, Live Summary) over the drafts of PreferencesState, above a bar with
// Cancel (Escape) and Save (Return). Each showing reloads the drafts; Save stores them and hides
// the window, a failed check leaves it open; Cancel and the close button only hide it.
// Main thread only.
class PreferencesWindow : public QDialog {
  public:
    struct Services {
        platform::TimerScheduler* timers = nullptr; // TimerScheduler::shared()
        platform::Executor* main = nullptr;         // MainDispatcher::shared()
        ModelListSource lists = ModelListSource::shared();
        std::function<bool(PermissionKind)> openSettingsPane{};
    };

    PreferencesWindow(PreferencesEnvironment environment, Services services, QWidget* parent = nullptr);
    ~PreferencesWindow() override;

    PreferencesState& state() { return *state_; }
    QPushButton* saveButton() const { return saveButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    ProviderModelSelectionView* summaryProviderBlock() const { return summaryBlock_; }
    ProviderModelSelectionView* liveProviderBlock() const { return liveBlock_; }

    void save();
    void reject() override; // Cancel, Escape

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QWidget* saveLocationSection();
    QWidget* generalSection();
    QWidget* transcriptionSection();
    QWidget* screenCaptureSection();
    QWidget* summarySection();
    QWidget* liveSummarySection();
    QWidget* section(const char* key, const char* english, QWidget* content);
    void applyProviderRule();
    void sync();

    std::unique_ptr<PreferencesState> state_;
    Services services_;
    FormBindings form_;
    std::vector<std::pair<PermissionRow*, std::function<bool()>>> permissionRows_;
    ScreenshotSettingsSection* screenshots_ = nullptr;
    ProviderModelSelectionView* summaryBlock_ = nullptr;
    ProviderModelSelectionView* liveBlock_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    std::string lastSummaryProvider_;
    std::string lastLiveProvider_;
    bool syncing_ = false;
    platform::ObserverToken viewModelObservation_;
};

// Owns the one preferences window, built on first show() and kept (hidden) until the process ends.
class PreferencesWindowController final : public ShowableWindow {
  public:
    using Factory = std::function<std::unique_ptr<PreferencesWindow>()>;

    explicit PreferencesWindowController(Factory factory);
    ~PreferencesWindowController() override;

    // Centres the window when it is not visible, shows it, raises and activates it.
    void show() override;
    PreferencesWindow* window() const { return window_.get(); }

  private:
    Factory factory_;
    std::unique_ptr<PreferencesWindow> window_;
};

} // namespace velnote
