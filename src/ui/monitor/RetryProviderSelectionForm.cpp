#include "ui/monitor/RetryProviderSelectionForm.h"

#include "platform/json/RawValue.h"
#include "platform/text/Whitespace.h"
#include "session/config/PromptCatalog.h"
#include "session/config/SummaryProvider.h"
#include "session/keychain/KeychainHelper.h"
#include "session/l10n/L10n.h"
#include "summary/context/SummaryChunkingUtils.h"
#include "ui/controls/IMEDisabledSecureField.h"
#include "ui/controls/ModelPickerField.h"
#include "ui/monitor/MonitorWidgets.h"
#include "ui/theme/AppTheme.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>
#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace velnote {

namespace {

using Text = std::string RetryFormValues::*;
using Flag = bool RetryFormValues::*;

const std::vector<std::string> kSpeechModels = {"tiny", "base", "small", "medium",
                                                "large-v3-v20240930_626MB"};
const std::vector<std::string> kLanguages = {"ja", "en", "zh", "zh-tw", "ko", "fr", "de", "es", "it", "pt"};
const std::vector<std::string> kLocalModels = {"qwen2.5-3b-instruct-mlx-4bit", "qwen2.5-7b-instruct-mlx-4bit",
                                               "qwen3-8b-instruct-mlx-4bit"};

// The current locale's name for a language code, else the code.
QString languageName(const std::string& code) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale = icu::Locale::forLanguageTag(code, status);
    if (U_FAILURE(status))
        return qs(code);
    icu::UnicodeString name;
    locale.getDisplayName(icu::Locale::getDefault(), name);
    std::string text;
    name.toUTF8String(text);
    return text.empty() ? qs(code) : qs(text);
}

QLabel* caption(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    label->setStyleSheet(
        QStringLiteral("QLabel { color: %1; }").arg(cssColor(toneColor(StatusTone::secondary, *parent))));
    return label;
}

QPlainTextEdit* promptEditor(QWidget* parent, int minimumHeight) {
    auto* editor = new QPlainTextEdit(parent);
    editor->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    editor->setMinimumHeight(minimumHeight);
    editor->setStyleSheet(
        QStringLiteral("QPlainTextEdit { background: %1; border: 0.8px solid %2; border-radius: 6px; }")
            .arg(cssColor(AppTheme::solidControlBackground().resolve(parent->palette())),
                 cssColor(AppTheme::controlBorder().resolve(parent->palette()))));
    return editor;
}

void setIfDifferent(QLineEdit& edit, const std::string& value) {
    if (edit.text().toStdString() != value)
        edit.setText(qs(value));
}

void setIfDifferent(QPlainTextEdit& edit, const std::string& value) {
    if (edit.toPlainText().toStdString() != value)
        edit.setPlainText(qs(value));
}

// Selects the entry whose data is `value`; none when it is not listed (the value stays as it is).
void select(QComboBox& box, const std::string& value) {
    box.setCurrentIndex(box.findData(qs(value)));
}

} // namespace

RetryProviderSelectionForm::RetryProviderSelectionForm(const RetryWindowInput& input, QWidget* parent)
    : QWidget(parent), snapshot_(input.snapshot), values_(input.values) {
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    buildNote();
    buildStartStep();
    buildTranscription();
    buildDiarization();
    buildNightlyBatch();
    buildAI();
    buildPrompts();
    layout->addStretch();
    render();
}

bool RetryProviderSelectionForm::isStartStepAllowed(RetryStartStep step) const {
    return isRetryStartStepAllowed(step, snapshot_.transcription, snapshot_.diarization);
}

QGroupBox* RetryProviderSelectionForm::section(const QString& title) {
    auto* box = new QGroupBox(title, this);
    new QVBoxLayout(box);
    layout()->addWidget(box);
    return box;
}

void RetryProviderSelectionForm::buildNote() {
    auto* box = section({});
    box->layout()->addWidget(caption(
        l10n("L10n.SessionMonitor.retryOnlyNote", "Changes here apply only to this retry operation."), box));
    box->layout()->addWidget(
        caption(l10n("L10n.SessionMonitor.retryDescription",
                     "Adjust the start step and summary settings to reprocess the target session."),
                box));
}

void RetryProviderSelectionForm::buildStartStep() {
    auto* box = section(l10n("L10n.SessionMonitor.retryStart", "Retry Start"));
    box->layout()->addWidget(new QLabel(l10n("L10n.SessionMonitor.startStep", "Start Step"), box));
    startSteps_ = new QButtonGroup(box);
    for (const RetryStartStep step : kAllRetryStartSteps) {
        auto* button = new QRadioButton(qs(label(step)), box);
        button->setObjectName(qs(std::string(rawValue(step))));
        startSteps_->addButton(button, static_cast<int>(step));
        box->layout()->addWidget(button);
    }
    stepNotAvailable_ = caption(l10n("L10n.SessionMonitor.stepNotAvailable",
                                     "The previous step has not completed, so this step cannot be selected."),
                                box);
    box->layout()->addWidget(stepNotAvailable_);
    connect(startSteps_, &QButtonGroup::idClicked, this, [this](int id) {
        values_.startStep = static_cast<RetryStartStep>(id);
        render();
    });
}

void RetryProviderSelectionForm::buildTranscription() {
    transcription_ = section(l10n("L10n.Common.transcription", "Transcription"));
    auto* form = transcription_->layout();
    const auto picker = [&](QComboBox*& box, QString label, const std::vector<std::string>& codes,
                            bool languages, Text member) {
        auto* row = new QHBoxLayout;
        row->addWidget(new QLabel(label, transcription_));
        box = new QComboBox(transcription_);
        for (const std::string& code : codes)
            box->addItem(languages ? languageName(code) : qs(code), qs(code));
        connect(box, &QComboBox::activated, this, [this, box, member](int index) {
            values_.*member = box->itemData(index).toString().toStdString();
        });
        row->addWidget(box, 1);
        static_cast<QVBoxLayout*>(form)->addLayout(row);
    };
    picker(whisperModel_, l10n("L10n.SessionMonitor.transcription.whisperModel", "Whisper Model"),
           kSpeechModels, false, &RetryFormValues::whisperModel);
    picker(language_, l10n("L10n.Common.inputLanguage", "Input Language"), kLanguages, true,
           &RetryFormValues::language);
    picker(outputLanguage_, l10n("L10n.Common.outputLanguage", "Output Language"), kLanguages, true,
           &RetryFormValues::outputLanguage);
}

void RetryProviderSelectionForm::buildDiarization() {
    diarization_ = section(l10n("L10n.SessionMonitor.speakerDiarization", "Speaker Diarization"));
    diarizationEnabled_ = new QCheckBox(
        l10n("L10n.SessionMonitor.enableSpeakerDiarization", "Enable Speaker Diarization"), diarization_);
    diarization_->layout()->addWidget(diarizationEnabled_);
    auto* row = new QHBoxLayout;
    speakersLabel_ = new QLabel(diarization_);
    speakers_ = new QSpinBox(diarization_);
    speakers_->setRange(0, 8);
    row->addWidget(speakersLabel_);
    row->addWidget(speakers_);
    row->addStretch();
    static_cast<QVBoxLayout*>(diarization_->layout())->addLayout(row);
    connect(diarizationEnabled_, &QCheckBox::toggled, this, [this](bool on) {
        if (rendering_)
            return;
        values_.diarizationEnabled = on;
        render();
    });
    connect(speakers_, &QSpinBox::valueChanged, this, [this](int count) {
        if (rendering_)
            return;
        values_.numberOfSpeakers = count;
        render();
    });
}

void RetryProviderSelectionForm::buildNightlyBatch() {
    auto* box = section(l10n("L10n.SessionMonitor.nightlyBatchSectionTitle", "Nightly Batch"));
    nightlyBatch_ =
        new QCheckBox(l10n("L10n.SessionMonitor.nightlyBatchProcessing", "Nightly Batch Processing"), box);
    box->layout()->addWidget(nightlyBatch_);
    box->layout()->addWidget(
        caption(l10n("L10n.SessionMonitor.nightlyBatchNote",
                     "Treat this session as a target for automatic nightly batch re-scanning."),
                box));
    connect(nightlyBatch_, &QCheckBox::toggled, this, [this](bool on) {
        if (!rendering_)
            values_.nightlyBatch = on;
    });
}

void RetryProviderSelectionForm::buildAI() {
    auto* box = section(l10n("L10n.SessionMonitor.aiSummarySection", "AI Summary"));
    auto* form = static_cast<QVBoxLayout*>(box->layout());
    form->addWidget(caption(l10n("L10n.Common.summaryAIProvider", "Summary AI Provider"), box));
    providers_ = new QButtonGroup(box);
    int id = 0;
    for (const SummaryProvider provider : availableProviders()) {
        auto* button = new QRadioButton(qs(label(provider)), box);
        providerValues_.emplace_back(rawValue(provider));
        providers_->addButton(button, id++);
        form->addWidget(button);
    }
    connect(providers_, &QButtonGroup::idClicked, this, [this](int index) {
        values_.provider = providerValues_.at(static_cast<std::size_t>(index));
        render();
    });

    const auto add = [&](const char* name, QWidget* widget) {
        widget->setObjectName(QString::fromLatin1(name));
        fields_[name] = widget;
        form->addWidget(widget);
    };
    const auto lineEdit = [&](const char* name, QString placeholder, Text member) {
        auto* edit = new QLineEdit(box);
        edit->setPlaceholderText(placeholder);
        connect(edit, &QLineEdit::textEdited, this, [this, member](const QString& text) {
            values_.*member = text.toStdString();
            render();
        });
        add(name, edit);
    };
    // A model picker over one of the values; its fetch runs on a worker with the key and address
    // the dialog held when it was last drawn.
    const auto modelField = [&](const char* name, QString labelText, Text member, auto fetch) {
        ModelPickerConfig config{.label = labelText.toStdString(),
                                 .selectedModel = Binding<std::string>(
                                     [this, member] { return values_.*member; },
                                     [this, member](const std::string& value) { values_.*member = value; })};
        fetch(config);
        auto* picker = new ModelPickerField(std::move(config), box);
        pickers_.push_back(picker);
        add(name, picker);
    };
    const auto listOf = [inputs = fetchInputs_](SummaryProvider provider, const char* account) {
        return [inputs, provider, account](ModelPickerConfig& config) {
            config.fetchModels = [inputs, provider, account](bool) {
                const std::string key = account ? KeychainHelper().load(account) : std::string();
                const std::string baseURL =
                    provider == SummaryProvider::antigravityCLI ? "" : inputs->baseURL();
                return RemoteModelFetchService::shared().fetchModels(provider, key, baseURL);
            };
        };
    };
    const auto toggle = [&](const char* name, QString text, Flag member) {
        auto* check = new QCheckBox(text, box);
        connect(check, &QCheckBox::toggled, this, [this, member](bool on) {
            if (!rendering_)
                values_.*member = on;
        });
        add(name, check);
    };

    lineEdit("localModelPath", l10n("L10n.Preferences.ggufModelPath", "GGUF model path (optional)"),
             &RetryFormValues::localModelPath);
    auto* localModel = new QWidget(box);
    auto* localRow = new QHBoxLayout(localModel);
    localRow->setContentsMargins(0, 0, 0, 0);
    localRow->addWidget(
        new QLabel(l10n("L10n.Common.summary.localModel", "Local Summary Model"), localModel));
    auto* localPicker = new QComboBox(localModel);
    localPicker->setObjectName(QStringLiteral("picker"));
    for (const std::string& model : kLocalModels)
        localPicker->addItem(qs(model), qs(model));
    connect(localPicker, &QComboBox::activated, this, [this, localPicker](int index) {
        values_.localModel = localPicker->itemData(index).toString().toStdString();
    });
    localRow->addWidget(localPicker, 1);
    add("localModel", localModel);
    using P = SummaryProvider;
    modelField("openAIModel", l10n("L10n.Preferences.openAIModel", "OpenAI Model"),
               &RetryFormValues::providerModel, listOf(P::openAI, KeychainHelper::openAIAPIKey));
    add("openRouterKey",
        new IMEDisabledSecureField(L10n::localized("L10n.Common.openRouterAPI", "OpenRouter API Key"),
                                   Binding<std::string>([this] { return values_.providerAPIKey; },
                                                        [this](const std::string& key) {
                                                            values_.providerAPIKey = key;
                                                            fetchInputs_->set(values_);
                                                        }),
                                   box));
    modelField("openRouterModel", l10n("L10n.Preferences.openRouterModel", "OpenRouter Model"),
               &RetryFormValues::providerModel, [inputs = fetchInputs_](ModelPickerConfig& config) {
                   // The key typed here, before it is saved anywhere.
                   config.fetchModelInfos = [inputs](bool freeOnly) {
                       return RemoteModelFetchService::shared().fetchOpenRouterModelInfos(inputs->apiKey(),
                                                                                          freeOnly);
                   };
                   config.showFreeOnlyToggle = true;
               });
    modelField("copilotModel", l10n("L10n.Preferences.copilotModel", "Copilot Model"),
               &RetryFormValues::providerModel, listOf(P::githubCopilotAPI, KeychainHelper::copilotAPIKey));
    modelField("claudeModel", l10n("L10n.Preferences.claudeModel", "Claude Model"),
               &RetryFormValues::providerModel, listOf(P::claudeAPI, KeychainHelper::claudeAPIKey));
    modelField("ollamaModel", l10n("L10n.Preferences.ollamaModel", "Ollama Model"),
               &RetryFormValues::providerModel, listOf(P::ollama, nullptr));
    lineEdit("ollamaServerURL", l10n("L10n.Preferences.ollamaServerURL", "Ollama Server URL"),
             &RetryFormValues::providerBaseURL);
    lineEdit("claudeCLIModel", l10n("L10n.Common.modelName", "Model name (empty for auto)"),
             &RetryFormValues::claudeCLIModel);
    lineEdit("copilotCLIModel", l10n("L10n.Common.modelName", "Model name (empty for auto)"),
             &RetryFormValues::copilotCLIModel);
    modelField("antigravityModel", l10n("L10n.Common.modelName", "Model name (empty for auto)"),
               &RetryFormValues::antigravityCLIModel, listOf(P::antigravityCLI, nullptr));
    toggle("llamaDirect",
           l10n("L10n.SessionMonitor.llamaDirectSummary",
                "Try direct summary with Llama.cpp local model; fall "
                "back to chunked summarization on context overflow"),
           &RetryFormValues::preferDirectSummaryForLlamaCppLocal);
    toggle("appleDirect",
           l10n("L10n.SessionMonitor.appleDirectSummary",
                "Try direct summary with Apple local model; fall back "
                "to chunked summarization on context overflow"),
           &RetryFormValues::preferDirectSummaryForAppleLocalLLM);
    auto* warning =
        caption(QStringLiteral("⚠ ") + l10n("L10n.Warnings.appleLocalLLMFinalSummary",
                                            "Apple local LLM is not recommended for final summaries. "
                                            "Context limits may result in fallback output."),
                box);
    add("appleWarning", warning);
}

void RetryProviderSelectionForm::buildPrompts() {
    auto* box = section({});
    auto* form = static_cast<QVBoxLayout*>(box->layout());
    auto* modeRow = new QHBoxLayout;
    modeRow->addWidget(new QLabel(l10n("L10n.Common.summaryPrompt", "Summary Prompt"), box));
    promptMode_ = new QComboBox(box);
    promptMode_->setObjectName(QStringLiteral("promptMode"));
    promptMode_->addItem(l10n("L10n.Common.preset", "Preset"), QStringLiteral("preset"));
    promptMode_->addItem(l10n("L10n.Common.custom", "Custom"), QStringLiteral("custom"));
    modeRow->addWidget(promptMode_, 1);
    form->addLayout(modeRow);
    connect(promptMode_, &QComboBox::activated, this, [this](int index) {
        values_.summaryPromptMode = promptMode_->itemData(index).toString().toStdString();
        render();
    });

    presetBlock_ = new QWidget(box);
    auto* preset = new QVBoxLayout(presetBlock_);
    preset->setContentsMargins(0, 0, 0, 0);
    auto* presetRow = new QHBoxLayout;
    presetRow->addWidget(new QLabel(l10n("L10n.Common.presetType", "Preset Type"), presetBlock_));
    promptPreset_ = new QComboBox(presetBlock_);
    promptPreset_->setObjectName(QStringLiteral("promptPreset"));
    for (const PromptOption& option : PromptCatalog::options())
        promptPreset_->addItem(qs(option.label), qs(option.id));
    presetRow->addWidget(promptPreset_, 1);
    preset->addLayout(presetRow);
    preset->addWidget(caption(l10n("L10n.Common.presetContent", "Preset Content"), presetBlock_));
    presetContent_ = promptEditor(presetBlock_, 140);
    presetContent_->setObjectName(QStringLiteral("presetContent"));
    presetContent_->setMaximumHeight(240);
    presetContent_->setReadOnly(true);
    preset->addWidget(presetContent_);
    form->addWidget(presetBlock_);
    connect(promptPreset_, &QComboBox::activated, this, [this](int index) {
        values_.summaryPromptPreset = promptPreset_->itemData(index).toString().toStdString();
        render();
    });

    customBlock_ = new QWidget(box);
    auto* custom = new QVBoxLayout(customBlock_);
    custom->setContentsMargins(0, 0, 0, 0);
    custom->addWidget(caption(l10n("L10n.Common.customPrompt", "Custom Prompt"), customBlock_));
    promptCustom_ = promptEditor(customBlock_, 120);
    promptCustom_->setObjectName(QStringLiteral("promptCustom"));
    custom->addWidget(promptCustom_);
    form->addWidget(customBlock_);
    connect(promptCustom_, &QPlainTextEdit::textChanged, this, [this] {
        if (!rendering_)
            values_.summaryPromptCustom = promptCustom_->toPlainText().toStdString();
    });

    auto* line = new QFrame(box);
    line->setFrameShape(QFrame::HLine);
    form->addWidget(line);
    auto* intermediateRow = new QHBoxLayout;
    intermediateRow->addWidget(
        caption(l10n("L10n.Common.intermediateNotePrompt", "Intermediate Note Prompt"), box));
    intermediateRow->addStretch();
    auto* reset = new QPushButton(l10n("L10n.Common.resetToDefault", "Reset to Default"), box);
    reset->setObjectName(QStringLiteral("resetIntermediate"));
    intermediateRow->addWidget(reset);
    form->addLayout(intermediateRow);
    intermediate_ = promptEditor(box, 120);
    intermediate_->setObjectName(QStringLiteral("intermediatePrompt"));
    intermediate_->setPlaceholderText(
        l10n("L10n.Common.leaveBlankForDefault", "Leave blank to use the default prompt"));
    form->addWidget(intermediate_);
    connect(intermediate_, &QPlainTextEdit::textChanged, this, [this] {
        if (!rendering_)
            values_.intermediatePromptCustom = intermediate_->toPlainText().toStdString();
    });
    connect(reset, &QPushButton::clicked, this, [this] {
        // The built-in note rules, as the summary step falls back to them.
        values_.intermediatePromptCustom =
            SummaryChunkingUtils::compactIntermediateDirective("", "", currentInterfaceLanguage());
        render();
    });
}

QAbstractButton* RetryProviderSelectionForm::startStepButton(RetryStartStep step) const {
    return startSteps_->button(static_cast<int>(step));
}

QAbstractButton* RetryProviderSelectionForm::providerButton(const std::string& rawValue) const {
    for (std::size_t i = 0; i < providerValues_.size(); ++i) {
        if (providerValues_[i] == rawValue)
            return providers_->button(static_cast<int>(i));
    }
    return nullptr;
}

QWidget* RetryProviderSelectionForm::field(const char* name) const {
    const auto found = fields_.find(name);
    return found == fields_.end() ? nullptr : found->second;
}

void RetryProviderSelectionForm::render() {
    rendering_ = true;
    for (const RetryStartStep step : kAllRetryStartSteps) {
        QAbstractButton* button = startStepButton(step);
        button->setEnabled(isStartStepAllowed(step));
        button->setChecked(step == values_.startStep);
    }
    stepNotAvailable_->setVisible(!isStartStepAllowed(values_.startStep));
    transcription_->setVisible(values_.startStep == RetryStartStep::transcription);
    diarization_->setVisible(values_.startStep != RetryStartStep::summary);
    select(*whisperModel_, values_.whisperModel);
    select(*language_, values_.language);
    select(*outputLanguage_, values_.outputLanguage);
    diarizationEnabled_->setChecked(values_.diarizationEnabled);
    speakers_->setValue(static_cast<int>(std::clamp<std::int64_t>(values_.numberOfSpeakers, 0, 8)));
    speakers_->setVisible(values_.diarizationEnabled);
    speakersLabel_->setVisible(values_.diarizationEnabled);
    speakersLabel_->setText(qs(L10n::localized("L10n.SessionMonitor.speakersCount", "Speakers (0=auto): %d",
                                               {values_.numberOfSpeakers})));
    nightlyBatch_->setChecked(values_.nightlyBatch);

    // Provider: no option checked for a value that names none.
    providers_->setExclusive(false);
    for (QAbstractButton* button : providers_->buttons())
        button->setChecked(providerValues_.at(static_cast<std::size_t>(providers_->id(button))) ==
                           values_.provider);
    providers_->setExclusive(true);
    const auto provider = platform::fromRawValue<SummaryProvider>(values_.provider);
    const auto is = [&](SummaryProvider p) { return provider == p; };
    const std::pair<const char*, bool> shown[] = {
        {"localModelPath", is(SummaryProvider::llamaCppLocal)},
        {"localModel", is(SummaryProvider::llamaCppLocal) && platform::isBlank(values_.localModelPath)},
        {"openAIModel", is(SummaryProvider::openAI)},
        {"openRouterKey", is(SummaryProvider::openRouter)},
        {"openRouterModel", is(SummaryProvider::openRouter)},
        {"copilotModel", is(SummaryProvider::githubCopilotAPI)},
        {"claudeModel", is(SummaryProvider::claudeAPI)},
        {"ollamaModel", is(SummaryProvider::ollama)},
        {"ollamaServerURL", is(SummaryProvider::ollama)},
        {"claudeCLIModel", is(SummaryProvider::claudeCLI)},
        {"copilotCLIModel", is(SummaryProvider::copilotCLI)},
        {"antigravityModel", is(SummaryProvider::antigravityCLI)},
        {"llamaDirect", is(SummaryProvider::llamaCppLocal)},
        {"appleDirect", is(SummaryProvider::appleLocalLLM)},
        {"appleWarning", is(SummaryProvider::appleLocalLLM)},
    };
    for (const auto& [name, visible] : shown)
        fields_.at(name)->setVisible(visible);
    const std::pair<const char*, Text> texts[] = {
        {"localModelPath", &RetryFormValues::localModelPath},
        {"openRouterKey", &RetryFormValues::providerAPIKey},
        {"ollamaServerURL", &RetryFormValues::providerBaseURL},
        {"claudeCLIModel", &RetryFormValues::claudeCLIModel},
        {"copilotCLIModel", &RetryFormValues::copilotCLIModel},
    };
    for (const auto& [name, member] : texts)
        setIfDifferent(*static_cast<QLineEdit*>(fields_.at(name)), values_.*member);
    fetchInputs_->set(values_);
    for (ModelPickerField* picker : pickers_)
        picker->refresh();
    select(*fields_.at("localModel")->findChild<QComboBox*>(QStringLiteral("picker")), values_.localModel);
    static_cast<QCheckBox*>(fields_.at("llamaDirect"))
        ->setChecked(values_.preferDirectSummaryForLlamaCppLocal);
    static_cast<QCheckBox*>(fields_.at("appleDirect"))
        ->setChecked(values_.preferDirectSummaryForAppleLocalLLM);

    select(*promptMode_, values_.summaryPromptMode);
    const bool preset = values_.summaryPromptMode == "preset";
    presetBlock_->setVisible(preset);
    customBlock_->setVisible(!preset);
    select(*promptPreset_, values_.summaryPromptPreset);
    setIfDifferent(*presetContent_, PromptCatalog::prompt(values_.summaryPromptPreset));
    setIfDifferent(*promptCustom_, values_.summaryPromptCustom);
    setIfDifferent(*intermediate_, values_.intermediatePromptCustom);
    rendering_ = false;
}

} // namespace velnote
