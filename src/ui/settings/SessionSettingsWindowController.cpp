#include "ui/settings/SessionSettingsWindowController.h"

#include "session/l10n/L10n.h"
#include "ui/controls/CaptionText.h"
#include "ui/settings/FormRows.h"
#include "ui/shell/AuxiliaryWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

namespace velnote {
namespace {

using namespace form;

std::shared_ptr<SessionSettingsWindowController>& sharedController() {
    static std::shared_ptr<SessionSettingsWindowController> controller;
    return controller;
}

bool keepsWindow(const RecordingState& state) {
    return state.phase() == RecordingState::Phase::starting ||
           state.phase() == RecordingState::Phase::recording;
}

} // namespace

SessionSettingsWindow::SessionSettingsWindow(SessionSettingsEnvironment environment, AppState& appState,
                                             ModelListSource lists, QWidget* parent)
    : QWidget(parent, Qt::Window), state_(std::make_unique<SessionSettingsState>(std::move(environment))),
      lists_(std::move(lists)) {
    setUpAuxiliaryWindow(*this, qs(text("L10n.Windows.sessionSettings", "Session Settings")),
                         QSize(460, 540));
    setMinimumSize(460, 500);

    auto* content = new QWidget;
    auto* sections = new QVBoxLayout(content);
    auto* onlyRow = new QHBoxLayout;
    auto* info = new QLabel;
    info->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(16, 16));
    onlyRow->addWidget(info, 0, Qt::AlignTop);
    onlyRow->addWidget(
        makeCaption(text("L10n.SessionSettings.sessionOnlyNote",
                         "Changes here apply only to this session and do not affect default settings.")),
        1);
    auto* only = new QWidget;
    only->setLayout(onlyRow);
    sections->addWidget(section("L10n.SessionSettings.sessionOnly", "This Session Only", only));
    sections->addWidget(transcriptionSection());
    sections->addWidget(summarySection());
    sections->addWidget(liveSummarySection());
    sections->addWidget(nightlySection());
    sections->addWidget(screenCaptureSection());
    sections->addStretch(1);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(content);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);

    stateObservation_ = state_->observe([this] { sync(); });
    recordingObservation_ = appState.observe(AppStateField::recordingState, [this, &appState](AppStateField) {
        if (!keepsWindow(appState.recordingState())) {
            hide();
        }
    });
    sync();
}

SessionSettingsWindow::~SessionSettingsWindow() {
    stateObservation_.reset();
    recordingObservation_.reset();
    // The controls refer to the state and its models: they go first, not after them.
    qDeleteAll(findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly));
}

QWidget* SessionSettingsWindow::section(const char* key, const char* english, QWidget* content) {
    auto* box = new QGroupBox(qs(text(key, english)));
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(content);
    return box;
}

QWidget* SessionSettingsWindow::transcriptionSection() {
    auto* content = new QWidget;
    auto* layout = column(content);
    SessionSettingsState& s = *state_;
    layout->addWidget(
        labelled(text("L10n.Preferences.transcription.provider", "Transcription Provider"),
                 form_.picker(transcriptionProviderOptions, s.transcriptionProvider.binding())));
    auto* whisper =
        labelled(text("L10n.Preferences.transcription.whisperModel", "Whisper Model (post-recording)"),
                 form_.picker(whisperModelOptions, s.whisperModel.binding()));
    layout->addWidget(whisper);
    form_.visibleWhen(whisper, [&s] { return s.transcriptionProvider.get() == "local"; });
    auto* remote = new QWidget;
    auto* remoteLayout = column(remote);
    const std::string modelTitle =
        text("L10n.Preferences.openAITranscriptionModel", "Model (e.g. whisper-1, whisper-large-v3)");
    remoteLayout->addWidget(
        labelled(modelTitle, form_.textField(modelTitle, s.transcriptionProviderModel.binding())));
    remoteLayout->addWidget(makeCaption(text("L10n.Preferences.transcriptionAPIKeyNote",
                                             "Please set your API key in the Preferences window.")));
    layout->addWidget(remote);
    form_.visibleWhen(remote, [&s] { return s.transcriptionProvider.get() == "openai"; });
    layout->addWidget(labelled(text("L10n.Common.inputLanguage", "Input Language"),
                               form_.picker([] { return languageOptions(LanguageOptions::inputLanguages()); },
                                            s.inputLanguage.binding())));
    layout->addWidget(
        labelled(text("L10n.Common.outputLanguage", "Output Language"),
                 form_.picker([] { return languageOptions(LanguageOptions::outputLanguages()); },
                              s.outputLanguage.binding())));
    layout->addWidget(
        form_.toggle(text("L10n.Preferences.speakerDiarization", "Speaker Diarization (Diarith)"),
                     s.diarizationEnabled.binding()));
    auto* speakers = form_.stepper(
        [](std::int64_t n) {
            return L10n::localized("L10n.SessionMonitor.speakersCount", "Speakers (0=auto): %d", {n});
        },
        s.numberOfSpeakers.binding(), 0, 8);
    layout->addWidget(speakers);
    form_.visibleWhen(speakers, [&s] { return s.diarizationEnabled.get(); });
    return section("L10n.Common.transcription", "Transcription", content);
}

QWidget* SessionSettingsWindow::summarySection() {
    auto* content = new QWidget;
    auto* layout = column(content);
    SessionSettingsState& s = *state_;
    layout->addWidget(labelled(text("L10n.Preferences.summary.provider", "Summary Provider"),
                               form_.picker(summaryProviderOptions, s.summaryProvider.binding())));
    summaryBlockHost_ = new QVBoxLayout;
    summaryBlockHost_->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(summaryBlockHost_);

    auto* concurrency = new QWidget;
    auto* concurrencyLayout = column(concurrency);
    concurrencyLayout->addWidget(form_.stepper(
        [](std::int64_t n) {
            return text("L10n.Preferences.remoteChunkConcurrency", "Chunk Summarization Concurrency") + ": " +
                   std::to_string(n);
        },
        Binding<std::int64_t>([&s] { return s.remoteChunkConcurrency(); },
                              [&s](const std::int64_t& value) { s.setRemoteChunkConcurrency(value); }),
        1, 8));
    concurrencyLayout->addWidget(
        makeCaption(text("L10n.Preferences.remoteChunkConcurrencyNote",
                         "Max concurrent chunks for remote providers (API, CLI, remote Ollama)")));
    layout->addWidget(concurrency);
    form_.visibleWhen(concurrency, [&s] {
        const auto provider = providerNamed(s.summaryProvider.get());
        return provider && *provider != SummaryProvider::llamaCppLocal &&
               *provider != SummaryProvider::appleLocalLLM;
    });

    layout->addWidget(labelled(text("L10n.Common.summaryPrompt", "Summary Prompt"),
                               form_.picker(promptModeOptions, s.summaryPromptMode.binding())));
    auto* preset = labelled(text("L10n.Common.presetType", "Preset Type"),
                            form_.picker(
                                [] {
                                    FormBindings::Options options;
                                    for (const PromptOption& option : PromptCatalog::options()) {
                                        options.emplace_back(qs(option.label), option.id);
                                    }
                                    return options;
                                },
                                s.summaryPromptPreset.binding()));
    layout->addWidget(preset);
    form_.visibleWhen(preset, [&s] { return s.summaryPromptMode.get() == "preset"; });
    auto* custom = new QWidget;
    auto* customLayout = column(custom);
    customLayout->addWidget(makeCaption(text("L10n.Common.customPrompt", "Custom Prompt")));
    customLayout->addWidget(form_.promptEditor(s.summaryPromptCustom.binding(), 120));
    layout->addWidget(custom);
    form_.visibleWhen(custom, [&s] { return s.summaryPromptMode.get() != "preset"; });

    layout->addSpacing(10);
    layout->addWidget(headline(text("L10n.Common.intermediateNotePrompt", "Intermediate Note Prompt")));
    auto* promptRow = new QHBoxLayout;
    promptRow->addWidget(makeCaption(text("L10n.Common.prompt", "Prompt")));
    promptRow->addStretch(1);
    auto* reset = new QPushButton(qs(text("L10n.Common.resetToDefault", "Reset to Default")));
    applyCaptionStyle(*reset);
    connect(reset, &QPushButton::clicked, this, [&s] { s.resetIntermediatePrompt(); });
    promptRow->addWidget(reset);
    layout->addLayout(promptRow);
    auto* editor = form_.promptEditor(s.intermediatePromptCustom.binding(), 120);
    editor->setPlaceholderText(
        qs(text("L10n.Common.leaveBlankForDefault", "Leave blank to use the default prompt")));
    layout->addWidget(editor);
    return section("L10n.Preferences.aiSummary", "AI Summary", content);
}

QWidget* SessionSettingsWindow::liveSummarySection() {
    auto* content = new QWidget;
    auto* layout = column(content);
    SessionSettingsState& s = *state_;
    layout->addWidget(labelled(text("L10n.Preferences.liveSummary.provider", "Live Summary Provider"),
                               form_.picker(summaryProviderOptions, s.liveSummaryProvider.binding())));
    liveBlockHost_ = new QVBoxLayout;
    liveBlockHost_->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(liveBlockHost_);
    layout->addWidget(makeCaption(text("L10n.Preferences.liveSummary.prompt", "Live Summary Prompt")));
    layout->addWidget(form_.promptEditor(s.liveSummaryPrompt.binding(), 100, false));
    auto* reset =
        new QPushButton(qs(text("L10n.Preferences.resetToDefaultPrompt", "Reset to Default Prompt")));
    connect(reset, &QPushButton::clicked, this,
            [&s] { s.liveSummaryPrompt.set(PromptCatalog::liveSummaryPrompt()); });
    layout->addWidget(reset, 0, Qt::AlignLeft);
    return section("L10n.Preferences.liveSummarySection", "Live Summary", content);
}

QWidget* SessionSettingsWindow::nightlySection() {
    auto* content = new QWidget;
    auto* layout = column(content);
    layout->addWidget(
        form_.toggle(text("L10n.SessionMonitor.nightlyBatchProcessing", "Nightly Batch Processing"),
                     state_->nightlyBatch.binding()));
    layout->addWidget(
        makeCaption(text("L10n.SessionMonitor.nightlyBatchNote",
                         "Treat this session as a target for automatic nightly batch re-scanning.")));
    return section("L10n.SessionMonitor.nightlyBatchSectionTitle", "Nightly Batch", content);
}

QWidget* SessionSettingsWindow::screenCaptureSection() {
    auto* content = new QWidget;
    auto* layout = column(content);
    SessionSettingsState& s = *state_;
    layout->addWidget(
        form_.toggle(text("L10n.Preferences.captureScreenChanges", "Capture screen changes during recording"),
                     s.screenshotEnabled.binding()));
    layout->addWidget(form_.toggle(text("L10n.Preferences.foregroundActivityTracking",
                                        "Enable foreground app analysis and activity logging"),
                                   s.foregroundActivityTrackingEnabled.binding()));
    layout->addWidget(
        makeCaption(text("L10n.Preferences.foregroundActivityTrackingNote",
                         "When OFF, window title capture, screen inference, and activity_log.json "
                         "generation are disabled to reduce CPU load.")));
    auto* display = labelled(text("L10n.Preferences.captureDisplay", "Capture Display"),
                             form_.intPicker(
                                 [&s] {
                                     std::vector<std::pair<QString, std::int64_t>> items;
                                     for (const AvailableDisplay& d : s.availableDisplays()) {
                                         items.emplace_back(qs(d.name), d.id);
                                     }
                                     return items;
                                 },
                                 s.screenshotDisplayIndex.binding()));
    layout->addWidget(display);
    form_.visibleWhen(display, [&s] { return s.availableDisplays().size() >= 2; });
    layout->addWidget(
        form_.toggle(text("L10n.Common.embedScreenshots", "Embed screenshots in summary as Base64"),
                     s.screenshotEmbedInSummaryEnabled.binding()));
    auto* width = labelled(text("L10n.Common.maxEmbedImageWidth", "Max embedded image width"),
                           form_.intPicker(
                               [] {
                                   std::vector<std::pair<QString, std::int64_t>> items;
                                   for (const std::int64_t w : {320, 640, 960, 1280}) {
                                       items.emplace_back(
                                           qs(L10n::localized("L10n.Common.widthPixels", "%d px", {w})), w);
                                   }
                                   return items;
                               },
                               s.screenshotEmbedMaxWidth.binding()));
    layout->addWidget(width);
    form_.visibleWhen(width, [&s] { return s.screenshotEmbedInSummaryEnabled.get(); });
    layout->addWidget(
        makeCaption(text("L10n.Preferences.screenshotEmbedNote",
                         "Specifies the maximum width of screenshots embedded in the summary.")));
    return section("L10n.Preferences.screenCapture", "Screen Capture", content);
}

void SessionSettingsWindow::replaceBlock(ProviderModelSelectionView*& block, QVBoxLayout* host,
                                         const std::shared_ptr<ProviderSettingsViewModel>& model,
                                         std::shared_ptr<ProviderSettingsViewModel>& shown) {
    if (model == shown) {
        return;
    }
    delete block; // before the model it shows can go
    block = nullptr;
    shown = model;
    if (model) {
        block = new ProviderModelSelectionView(*model, state_->supportsCLIProviders(), localSummaryModels(),
                                               lists_);
        host->addWidget(block);
    }
}

void SessionSettingsWindow::sync() {
    if (syncing_) {
        return;
    }
    syncing_ = true;
    replaceBlock(summaryBlock_, summaryBlockHost_, state_->summaryProviderSettings(), shownSummaryModel_);
    replaceBlock(liveBlock_, liveBlockHost_, state_->liveSummaryProviderSettings(), shownLiveModel_);
    const auto local = SummaryProvider::llamaCppLocal;
    if (summaryBlock_ != nullptr) {
        summaryBlock_->setProvider(providerNamed(state_->summaryProvider.get()).value_or(local));
    }
    if (liveBlock_ != nullptr) {
        liveBlock_->setProvider(providerNamed(state_->liveSummaryProvider.get()).value_or(local));
    }
    form_.sync();
    syncing_ = false;
}

void SessionSettingsWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    state_->appear();
    state_->activateRules();
    sync();
}

SessionSettingsWindowController::SessionSettingsWindowController(AppState& appState, Factory factory)
    : appState_(appState), factory_(std::move(factory)) {}

SessionSettingsWindowController::~SessionSettingsWindowController() = default;

SessionSettingsWindowController* SessionSettingsWindowController::shared() {
    return sharedController().get();
}

void SessionSettingsWindowController::setShared(std::shared_ptr<SessionSettingsWindowController> controller) {
    sharedController() = std::move(controller);
}

void SessionSettingsWindowController::show() {
    if (appState_.recordingState() != RecordingState::recording()) {
        appState_.setStatusMessage(L10n::localized("L10n.SessionSettings.recordingOnlyNotice",
                                                   "Session settings can only be changed during recording"));
        QApplication::beep();
        return;
    }
    if (!window_) {
        window_ = factory_();
    }
    presentAuxiliaryWindow(*window_);
}

} // namespace velnote
