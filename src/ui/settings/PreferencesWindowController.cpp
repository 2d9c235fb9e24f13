#include "ui/settings/PreferencesWindowController.h"

#include "session/config/SummaryProvider.h"
#include "session/l10n/L10n.h"
#include "ui/controls/CaptionText.h"
#include "ui/settings/FormRows.h"
#include "ui/settings/PermissionRow.h"
#include "ui/shell/AuxiliaryWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace velnote {
namespace {

using S = ProviderSetting;

using namespace form;

} // namespace

PreferencesWindow::PreferencesWindow(PreferencesEnvironment environment, Services services, QWidget* parent)
    : QDialog(parent), state_(std::make_unique<PreferencesState>(std::move(environment))),
      services_(std::move(services)) {
    // Ctrl+W and the close button both go through reject(): Cancel.
    setUpAuxiliaryWindow(*this, qs("Hushtape " + text("L10n.Preferences.settings", "Settings")),
                         QSize(540, 560));
    setMinimumSize(520, 500);

    auto* content = new QWidget;
    auto* sections = new QVBoxLayout(content);
    sections->addWidget(saveLocationSection());
    sections->addWidget(generalSection());
    sections->addWidget(transcriptionSection());
    sections->addWidget(screenCaptureSection());
    sections->addWidget(summarySection());
    sections->addWidget(liveSummarySection());
    sections->addStretch(1);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(content);

    auto* bar = new QWidget;
    auto* barRow = new QHBoxLayout(bar);
    barRow->setContentsMargins(16, 12, 16, 12);
    barRow->addStretch(1);
    cancelButton_ = new QPushButton(qs(text("L10n.Common.cancel", "Cancel")));
    saveButton_ = new QPushButton(qs(text("L10n.Common.save", "Save")));
    saveButton_->setDefault(true); // Return, unless a text editor takes it
    saveButton_->setAutoDefault(true);
    cancelButton_->setAutoDefault(false);
    barRow->addWidget(cancelButton_);
    barRow->addWidget(saveButton_);
    connect(cancelButton_, &QPushButton::clicked, this, [this] { reject(); });
    connect(saveButton_, &QPushButton::clicked, this, [this] { save(); });

    auto* window = new QVBoxLayout(this);
    window->setContentsMargins(0, 0, 0, 0);
    window->setSpacing(0);
    window->addWidget(scroll, 1);
    window->addWidget(divider());
    window->addWidget(bar);

    state_->setOnChange([this] { sync(); });
    viewModelObservation_ = state_->viewModel().observe([this] { sync(); });
    lastSummaryProvider_ = state_->viewModel().summaryProvider.get();
    lastLiveProvider_ = state_->viewModel().liveSummaryProvider.get();
    sync();
}

PreferencesWindow::~PreferencesWindow() {
    state_->setOnChange(nullptr);
    viewModelObservation_.reset();
    // The controls refer to the state: they go first, not after it with the base class.
    qDeleteAll(findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly));
}

QWidget* PreferencesWindow::section(const char* key, const char* english, QWidget* content) {
    auto* box = new QGroupBox(qs(text(key, english)));
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(content);
    return box;
}

QWidget* PreferencesWindow::saveLocationSection() {
    auto* content = new QWidget;
    auto* layout = column(content);
    AppSettingsViewModel& v = state_->viewModel();
    layout->addWidget(form_.dynamicLabel([this, &v] {
        return v.audioDir.get().empty() ? state_->defaultAudioDirLabelText() : v.audioDir.get();
    }));
    applyCaptionStyle(*layout->itemAt(0)->widget());
    auto* buttons = new QHBoxLayout;
    auto* choose = new QPushButton(qs(text("L10n.Preferences.chooseFolder", "Choose Folder...")));
    choose->setAutoDefault(false);
    auto* reset = new QPushButton(qs(text("L10n.Preferences.resetToDefault", "Reset to Default")));
    reset->setAutoDefault(false);
    connect(choose, &QPushButton::clicked, this, [this] { state_->chooseDraftDirectory(); });
    connect(reset, &QPushButton::clicked, this, [&v] { v.audioDir.set(""); });
    form_.visibleWhen(reset, [&v] { return !v.audioDir.get().empty(); });
    buttons->addWidget(choose);
    buttons->addWidget(reset);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    return section("L10n.Preferences.saveLocation", "Save Location", content);
}

QWidget* PreferencesWindow::generalSection() {
    auto* content = new QWidget;
    auto* layout = column(content);
    AppSettingsViewModel& v = state_->viewModel();
    layout->addWidget(form_.stepper(
        [](std::int64_t days) {
            return L10n::localized("L10n.Preferences.sessionRetentionLabel",
                                   "Session retention days (0=unlimited): %d", {days});
        },
        v.sessionRetentionDays.binding(), 0, 3650));
    layout->addWidget(
        makeCaption(text("L10n.Preferences.sessionRetentionNote",
                         "These settings apply only to working sessions and do not affect saved sessions.")));
    layout->addWidget(form_.toggle(text("L10n.Preferences.launchAtLogin", "Launch Velnote at Login"),
                                   v.launchAtLogin.binding()));
    layout->addWidget(makeCaption(
        text("L10n.Preferences.launchAtLoginNote", "Automatically start the app when the system boots.")));
    const std::string pathTitle =
        text("L10n.Preferences.additionalPATH", "Additional PATH (for CLI command lookup on auto-launch)");
    layout->addWidget(new QLabel(qs(pathTitle)));
    layout->addWidget(form_.textField(pathTitle, v.additionalPATH.binding()));
    layout->addWidget(
        makeCaption(text("L10n.Preferences.additionalPATHNote",
                         "PATH is restricted on login auto-launch. Add paths here if CLI commands are "
                         "not found (e.g. /opt/homebrew/bin:/usr/local/bin). Common paths are appended "
                         "automatically if left blank.")));
    layout->addWidget(form_.toggle(text("L10n.Preferences.enableNightlyBatch", "Enable Nightly Batch"),
                                   v.nightlyBatchEnabled.binding()));
    auto* hour = form_.stepper(
        [](std::int64_t h) {
            return L10n::localized("L10n.Preferences.nightlyBatchRunAt", "Run at: %d:00", {h});
        },
        v.nightlyBatchHour.binding(), 0, 23);
    auto* hourNote =
        makeCaption(text("L10n.Preferences.nightlyBatchNote",
                         "Re-scans unprocessed sessions at the specified time. Combine with login "
                         "auto-launch for continuous nightly execution."));
    layout->addWidget(hour);
    layout->addWidget(hourNote);
    form_.visibleWhen(hour, [&v] { return v.nightlyBatchEnabled.get(); });
    form_.visibleWhen(hourNote, [&v] { return v.nightlyBatchEnabled.get(); });
    layout->addWidget(form_.toggle(
        text("L10n.Preferences.nightlyBatchNewSessionDefault", "Nightly Batch (default for new sessions)"),
        v.sessionNightlyBatchDefault.binding()));
    layout->addWidget(
        makeCaption(text("L10n.Preferences.nightlyBatchNewSessionNote",
                         "The default ON/OFF value for \"Nightly Batch\" when starting a new session.")));
    layout->addWidget(
        form_.toggle(text("L10n.Preferences.enableAutoMicDetection", "Enable Auto Mic Detection"),
                     v.enableAutoMicDetection.binding()));
    layout->addWidget(
        makeCaption(text("L10n.Preferences.autoMicDetectionNote",
                         "Detects when another app starts using the microphone and shows a recording "
                         "start confirmation.")));
    layout->addWidget(form_.toggle(text("L10n.Preferences.foregroundActivityTracking",
                                        "Enable foreground app analysis and activity logging"),
                                   v.foregroundActivityTrackingEnabled.binding()));
    layout->addWidget(
        makeCaption(text("L10n.Preferences.foregroundActivityTrackingNote",
                         "When OFF, window title capture, screen inference, and activity_log.json "
                         "generation are disabled to reduce CPU load.")));
    layout->addSpacing(8);
    layout->addWidget(divider());
    layout->addSpacing(8);
    layout->addWidget(headline(text("L10n.Preferences.permissionsSection", "Permissions")));

    const struct {
        const char* icon;
        const char* titleKey;
        const char* title;
        const char* subtitleKey;
        const char* subtitle;
        PermissionKind kind;
        bool PermissionFlags::*flag;
    } rows[] = {
        {"input-mouse", "L10n.Preferences.accessibilityPermission", "Accessibility",
         "L10n.Preferences.accessibilityPermissionDescription",
         "Required to read window titles and detect focused UI elements.", PermissionKind::accessibility,
         &PermissionFlags::accessibility},
        {"audio-input-microphone", "L10n.Preferences.microphonePermission", "Microphone",
         "L10n.Preferences.microphonePermissionDescription",
         "Required to capture microphone audio during recording.", PermissionKind::microphone,
         &PermissionFlags::microphone},
        {"video-display", "L10n.Preferences.screenRecordingPermission", "Screen Recording",
         "L10n.Preferences.screenRecordingPermissionDescription",
         "Required to capture screen content for screenshots and OCR.", PermissionKind::screenRecording,
         &PermissionFlags::screenRecording},
        {"audio-x-generic", "L10n.Preferences.speechRecognitionPermission", "Speech Recognition",
         "L10n.Preferences.speechRecognitionPermissionDescription",
         "Required for speech-recognition based transcription.", PermissionKind::speechRecognition,
         &PermissionFlags::speechRecognition},
        {"preferences-system-notifications", "L10n.Preferences.notificationsPermission", "Notifications",
         "L10n.Preferences.notificationsPermissionDescription",
         "Required to notify you when session processing completes.", PermissionKind::notifications,
         &PermissionFlags::notifications},
    };
    for (const auto& r : rows) {
        auto* row = new PermissionRow(QString::fromLatin1(r.icon), text(r.titleKey, r.title),
                                      text(r.subtitleKey, r.subtitle), [this, kind = r.kind] {
                                          if (services_.openSettingsPane) {
                                              services_.openSettingsPane(kind);
                                          }
                                          if (services_.timers != nullptr && services_.main != nullptr) {
                                              state_->refreshPermissionStatesDeferred(*services_.timers,
                                                                                      *services_.main);
                                          }
                                      });
        row->button()->setAutoDefault(false);
        layout->addWidget(row);
        permissionRows_.emplace_back(row, [this, flag = r.flag] { return state_->permissions().*flag; });
    }
    layout->addWidget(
        makeCaption(text("L10n.Preferences.permissionsSectionNote",
                         "Check the state of each permission and open system settings if needed.")));
    return section("L10n.Preferences.general", "General", content);
}

QWidget* PreferencesWindow::transcriptionSection() {
    auto* content = new QWidget;
    auto* layout = column(content);
    AppSettingsViewModel& v = state_->viewModel();
    layout->addWidget(
        labelled(text("L10n.Preferences.transcription.provider", "Transcription Provider"),
                 form_.picker(transcriptionProviderOptions, v.transcriptionProvider.binding())));
    auto* whisper =
        labelled(text("L10n.Preferences.transcription.whisperModel", "Whisper Model (post-recording)"),
                 form_.picker(whisperModelOptions, v.whisperModel.binding()));
    layout->addWidget(whisper);
    form_.visibleWhen(whisper, [&v] { return v.transcriptionProvider.get() == "local"; });
    const std::string modelTitle =
        text("L10n.Preferences.openAITranscriptionModel", "Model (e.g. whisper-1, whisper-large-v3)");
    auto* model = labelled(modelTitle, form_.textField(modelTitle, v.transcriptionProviderModel.binding()));
    layout->addWidget(model);
    form_.visibleWhen(model, [&v] { return v.transcriptionProvider.get() == "openai"; });
    layout->addWidget(labelled(text("L10n.Preferences.inputLanguage", "Input Language"),
                               form_.picker([] { return languageOptions(LanguageOptions::inputLanguages()); },
                                            v.inputLanguage.binding())));
    layout->addWidget(
        labelled(text("L10n.Preferences.outputLanguage", "Output Language"),
                 form_.picker([] { return languageOptions(LanguageOptions::outputLanguages()); },
                              v.outputLanguage.binding())));
    layout->addWidget(
        form_.toggle(text("L10n.Preferences.speakerDiarization", "Speaker Diarization (Diarith)"),
                     v.enableDiarization.binding()));
    auto* speakers = form_.stepper(
        [](std::int64_t n) {
            return L10n::localized("L10n.Preferences.speakersCount", "Speakers (0=auto): %d", {n});
        },
        v.numberOfSpeakers.binding(), 0, 8);
    layout->addWidget(speakers);
    form_.visibleWhen(speakers, [&v] { return v.enableDiarization.get(); });
    layout->addWidget(divider());
    layout->addWidget(
        form_.toggle(text("L10n.Preferences.voiceProcessing", "Voice Processing (Echo/Noise Cancellation)"),
                     v.enableVoiceProcessing.binding()));
    layout->addWidget(
        makeCaption(text("L10n.Preferences.voiceProcessingNote",
                         "Applies hardware AEC and noise suppression to the microphone. Recommended "
                         "when recording both mic and system audio without headphones.")));
    return section("L10n.Preferences.transcriptionSection", "Transcription", content);
}

QWidget* PreferencesWindow::screenCaptureSection() {
    AppSettingsViewModel& v = state_->viewModel();
    screenshots_ = new ScreenshotSettingsSection({.enabled = v.screenshotEnabled.binding(),
                                                  .displayIndex = v.screenshotDisplayIndex.binding(),
                                                  .pollNormal = v.screenshotPollNormal.binding(),
                                                  .pollVideo = v.screenshotPollVideo.binding(),
                                                  .saveMinNormal = v.screenshotSaveMinNormal.binding(),
                                                  .saveMinVideo = v.screenshotSaveMinVideo.binding(),
                                                  .embedEnabled = v.screenshotEmbedInSummaryEnabled.binding(),
                                                  .embedMaxWidth = v.screenshotEmbedMaxWidth.binding()},
                                                 [this] { return state_->availableDisplays(); });
    return section("L10n.Preferences.screenCapture", "Screen Capture", screenshots_);
}

QWidget* PreferencesWindow::summarySection() {
    auto* content = new QWidget;
    auto* layout = column(content);
    AppSettingsViewModel& v = state_->viewModel();
    layout->addWidget(labelled(text("L10n.Preferences.summary.provider", "Summary Provider"),
                               form_.picker(summaryProviderOptions, v.summaryProvider.binding())));
    summaryBlock_ = new ProviderModelSelectionView(state_->providerSettings(), state_->supportsCLIProviders(),
                                                   localSummaryModels(), services_.lists);
    layout->addWidget(summaryBlock_);
    auto* concurrency = form_.stepper(
        [](std::int64_t n) {
            return text("L10n.Preferences.remoteChunkConcurrency", "Chunk Summarization Concurrency") + ": " +
                   std::to_string(n);
        },
        v.remoteChunkConcurrency.binding(), 1, 8);
    auto* concurrencyNote =
        makeCaption(text("L10n.Preferences.remoteChunkConcurrencyNote",
                         "Max concurrent chunks for remote providers (API, CLI, remote Ollama)"));
    const auto remote = [&v] {
        const auto provider = providerNamed(v.summaryProvider.get());
        return provider && *provider != SummaryProvider::llamaCppLocal &&
               *provider != SummaryProvider::appleLocalLLM;
    };
    layout->addWidget(concurrency);
    layout->addWidget(concurrencyNote);
    form_.visibleWhen(concurrency, remote);
    form_.visibleWhen(concurrencyNote, remote);

    layout->addWidget(labelled(text("L10n.Common.summaryPrompt", "Summary Prompt"),
                               form_.picker(promptModeOptions, v.summaryPromptMode.binding())));
    auto* preset = new QWidget;
    auto* presetLayout = column(preset);
    presetLayout->addWidget(labelled(text("L10n.Common.presetType", "Preset Type"),
                                     form_.picker(
                                         [this] {
                                             FormBindings::Options options;
                                             for (const PromptOption& option :
                                                  state_->summaryPromptPresets()) {
                                                 options.emplace_back(qs(option.label), option.id);
                                             }
                                             return options;
                                         },
                                         v.summaryPromptPreset.binding())));
    auto* current = form_.dynamicLabel([this, &v] {
        return L10n::localized("L10n.Preferences.currentPreset", "Current preset: %@",
                               {state_->summaryPresetLabel(v.summaryPromptPreset.get())});
    });
    applyCaptionStyle(*current);
    presetLayout->addWidget(current);
    presetLayout->addWidget(
        makeCaption(text("L10n.Preferences.presetContentReadOnly", "Preset Content (read-only)")));
    auto* preview = new QPlainTextEdit;
    preview->setReadOnly(true);
    preview->setMinimumHeight(160);
    preview->setMaximumHeight(260);
    applyPromptEditorStyle(*preview, false);
    form_.onSync([preview, &v] {
        const QString prompt = qs(PromptCatalog::prompt(v.summaryPromptPreset.get()));
        if (preview->toPlainText() != prompt) {
            preview->setPlainText(prompt);
        }
    });
    presetLayout->addWidget(preview);
    layout->addWidget(preset);
    form_.visibleWhen(preset, [&v] { return v.summaryPromptMode.get() == "preset"; });

    auto* custom = new QWidget;
    auto* customLayout = column(custom);
    customLayout->addWidget(
        makeCaption(text("L10n.Preferences.customSummaryPromptSection", "Custom Summary Prompt")));
    customLayout->addWidget(form_.promptEditor(v.summaryPromptCustom.binding(), 150));
    layout->addWidget(custom);
    form_.visibleWhen(custom, [&v] { return v.summaryPromptMode.get() != "preset"; });

    layout->addSpacing(10);
    layout->addWidget(
        headline(text("L10n.Preferences.intermediateNotePromptSection", "Intermediate Note Prompt")));
    layout->addWidget(
        makeCaption(text("L10n.Preferences.intermediateNoteNote",
                         "Used only when the transcript is long and split into multiple chunks. Guides "
                         "bullet-point extraction of key facts from each chunk. Also applied to chunks "
                         "containing screenshot OCR text.")));
    auto* promptRow = new QHBoxLayout;
    promptRow->addWidget(makeCaption(text("L10n.Common.prompt", "Prompt")));
    promptRow->addStretch(1);
    auto* resetIntermediate =
        new QPushButton(qs(text("L10n.Preferences.resetToDefault", "Reset to Default")));
    resetIntermediate->setAutoDefault(false);
    applyCaptionStyle(*resetIntermediate);
    connect(resetIntermediate, &QPushButton::clicked, this,
            [&v] { v.intermediatePromptCustom.set(PromptCatalog::intermediateNotePrompt()); });
    promptRow->addWidget(resetIntermediate);
    layout->addLayout(promptRow);
    layout->addWidget(form_.promptEditor(v.intermediatePromptCustom.binding(), 150));
    return section("L10n.Preferences.aiSummary", "AI Summary", content);
}

QWidget* PreferencesWindow::liveSummarySection() {
    auto* content = new QWidget;
    auto* layout = column(content);
    AppSettingsViewModel& v = state_->viewModel();
    layout->addWidget(labelled(text("L10n.Preferences.liveSummary.provider", "Live Summary Provider"),
                               form_.picker(summaryProviderOptions, v.liveSummaryProvider.binding())));
    liveBlock_ =
        new ProviderModelSelectionView(state_->liveSummaryProviderSettings(), state_->supportsCLIProviders(),
                                       localSummaryModels(), services_.lists);
    layout->addWidget(liveBlock_);
    layout->addWidget(makeCaption(text("L10n.Preferences.liveSummary.prompt", "Live Summary Prompt")));
    layout->addWidget(form_.promptEditor(v.liveSummaryPrompt.binding(), 140));
    auto* reset =
        new QPushButton(qs(text("L10n.Preferences.resetToDefaultPrompt", "Reset to Default Prompt")));
    reset->setAutoDefault(false);
    connect(reset, &QPushButton::clicked, this,
            [&v] { v.liveSummaryPrompt.set(PromptCatalog::liveSummaryPrompt()); });
    layout->addWidget(reset, 0, Qt::AlignLeft);
    layout->addWidget(
        makeCaption(text("L10n.Preferences.liveSummaryNote",
                         "Toggle ON/OFF and adjust the interval in the recording screen to runlive "
                         "summary with this prompt and provider.")));
    return section("L10n.Preferences.liveSummarySection", "Live Summary", content);
}

// A provider text that names nothing this build offers becomes "local" as soon as it appears.
void PreferencesWindow::applyProviderRule() {
    AppSettingsViewModel& v = state_->viewModel();
    if (v.summaryProvider.get() != lastSummaryProvider_) {
        lastSummaryProvider_ = v.summaryProvider.get();
        v.summaryProvider.set(state_->normalizedProvider(lastSummaryProvider_));
    }
    if (v.liveSummaryProvider.get() != lastLiveProvider_) {
        lastLiveProvider_ = v.liveSummaryProvider.get();
        v.liveSummaryProvider.set(state_->normalizedProvider(lastLiveProvider_));
    }
}

void PreferencesWindow::sync() {
    if (syncing_) {
        return; // a rule's own change comes back here; the running sync shows it
    }
    syncing_ = true;
    if (isVisible()) {
        applyProviderRule();
    }
    const AppSettingsViewModel& v = state_->viewModel();
    lastSummaryProvider_ = v.summaryProvider.get();
    lastLiveProvider_ = v.liveSummaryProvider.get();
    summaryBlock_->setProvider(
        providerNamed(v.summaryProvider.get()).value_or(SummaryProvider::llamaCppLocal));
    liveBlock_->setProvider(
        providerNamed(v.liveSummaryProvider.get()).value_or(SummaryProvider::llamaCppLocal));
    screenshots_->refresh();
    for (const auto& [row, granted] : permissionRows_) {
        row->setGranted(granted());
    }
    form_.sync();
    syncing_ = false;
}

void PreferencesWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    state_->appear();
    sync();
}

void PreferencesWindow::save() {
    if (state_->commitDraftsToStorage()) {
        hide();
    }
}

void PreferencesWindow::reject() {
    state_->cancel();
    hide();
}

PreferencesWindowController::PreferencesWindowController(Factory factory) : factory_(std::move(factory)) {}

PreferencesWindowController::~PreferencesWindowController() = default;

void PreferencesWindowController::show() {
    if (!window_) {
        window_ = factory_();
    }
    presentAuxiliaryWindow(*window_);
}

} // namespace velnote
