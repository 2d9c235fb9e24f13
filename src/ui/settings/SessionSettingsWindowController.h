#pragma once

#include "app/shell/ShellWindows.h"
#include "app/state/AppState.h"
#include "ui/settings/FormBindings.h"
#include "ui/settings/SessionSettingsState.h"
#include "ui/settings/SettingsComponents.h"

#include <QWidget>
#include <memory>

class QVBoxLayout;

namespace velnote {

// The settings of the recording that is running, changed without touching the global settings:
// every change is written at once into its configuration and told to the services that run for
// it. It shows only while recording and hides as soon as the recording stops. Main thread only.
class SessionSettingsWindow : public QWidget {
  public:
    SessionSettingsWindow(SessionSettingsEnvironment environment, AppState& appState,
                          ModelListSource lists = ModelListSource::shared(), QWidget* parent = nullptr);
    ~SessionSettingsWindow() override;

    SessionSettingsState& state() { return *state_; }
    ProviderModelSelectionView* summaryProviderBlock() const { return summaryBlock_; }
    ProviderModelSelectionView* liveProviderBlock() const { return liveBlock_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QWidget* section(const char* key, const char* english, QWidget* content);
    QWidget* transcriptionSection();
    QWidget* summarySection();
    QWidget* liveSummarySection();
    QWidget* nightlySection();
    QWidget* screenCaptureSection();
    void sync();
    void replaceBlock(ProviderModelSelectionView*& block, QVBoxLayout* host,
                      const std::shared_ptr<ProviderSettingsViewModel>& model,
                      std::shared_ptr<ProviderSettingsViewModel>& shown);

    std::unique_ptr<SessionSettingsState> state_;
    ModelListSource lists_;
    FormBindings form_;
    QVBoxLayout* summaryBlockHost_ = nullptr;
    QVBoxLayout* liveBlockHost_ = nullptr;
    ProviderModelSelectionView* summaryBlock_ = nullptr;
    ProviderModelSelectionView* liveBlock_ = nullptr;
    std::shared_ptr<ProviderSettingsViewModel> shownSummaryModel_;
    std::shared_ptr<ProviderSettingsViewModel> shownLiveModel_;
    bool syncing_ = false;
    platform::ObserverToken stateObservation_;
    AppState::ObservationToken recordingObservation_;
};

// Owns the one session settings window, built on first show() and kept until the process ends.
// Outside a recording show() refuses: the status line says why and the desktop beeps.
class SessionSettingsWindowController final : public ShowableWindow {
  public:
    using Factory = std::function<std::unique_ptr<SessionSettingsWindow>()>;

    SessionSettingsWindowController(AppState& appState, Factory factory);
    ~SessionSettingsWindowController() override;

    // The application's, once installed (the recording window's settings button calls it).
    static SessionSettingsWindowController* shared();
    static void setShared(std::shared_ptr<SessionSettingsWindowController> controller);

    void show() override;
    SessionSettingsWindow* window() const { return window_.get(); }

  private:
    AppState& appState_;
    Factory factory_;
    std::unique_ptr<SessionSettingsWindow> window_;
};

} // namespace velnote
