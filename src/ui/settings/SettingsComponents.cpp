#include "ui/settings/SettingsComponents.h"

#include "providers/models/RemoteModelFetchService.h"
#include "session/l10n/L10n.h"
#include "ui/controls/CaptionText.h"
#include "ui/controls/IMEDisabledSecureField.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <charconv>

namespace velnote {
namespace {

using S = ProviderSetting;

std::string text(const char* key, const char* english) {
    return L10n::localized(key, english);
}

QVBoxLayout* flatColumn(QWidget* widget) {
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    return layout;
}

} // namespace

std::string ScreenshotSettingsSection::secondsText(double seconds, int decimals) {
    // Not printf: the application runs under the user's LC_NUMERIC (Qt sets it), which may make
    // the decimal mark a comma; the caption always uses ".".
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, seconds, std::chars_format::fixed, decimals);
    return result.ec == std::errc() ? std::string(buffer, result.ptr) : std::string();
}

ScreenshotSettingsSection::ScreenshotSettingsSection(Bindings b,
                                                     std::function<std::vector<AvailableDisplay>()> displays,
                                                     QWidget* parent)
    : QWidget(parent) {
    auto* layout = flatColumn(this);
    layout->addWidget(form_.toggle(
        text("L10n.Preferences.captureScreenChanges", "Capture screen changes during recording"), b.enabled));

    auto* whileEnabled = new QWidget;
    auto* rows = flatColumn(whileEnabled);
    auto* displayRow = new QWidget;
    auto* displayLayout = new QHBoxLayout(displayRow);
    displayLayout->setContentsMargins(0, 0, 0, 0);
    displayLayout->addWidget(
        new QLabel(QString::fromStdString(text("L10n.Preferences.captureDisplay", "Capture Display"))));
    displayLayout->addWidget(
        form_.intPicker(
            [displays] {
                std::vector<std::pair<QString, std::int64_t>> items;
                const auto list = displays ? displays() : std::vector<AvailableDisplay>{};
                if (list.empty()) {
                    items.emplace_back(
                        QString::fromStdString(text("L10n.Preferences.mainDisplay", "Main Display")), 0);
                }
                for (const AvailableDisplay& display : list) {
                    items.emplace_back(QString::fromStdString(display.name), display.id);
                }
                return items;
            },
            b.displayIndex),
        1);
    rows->addWidget(displayRow);

    const struct {
        const char* key;
        const char* english;
        Binding<double> value;
        double minimum;
        double maximum;
        double step;
        int decimals;
    } sliders[] = {
        {"L10n.Preferences.pollNormal", "Normal polling interval: %@ sec", b.pollNormal, 1, 10, 0.5, 1},
        {"L10n.Preferences.pollVideo", "Video mode polling interval: %@ sec", b.pollVideo, 1, 15, 0.5, 1},
        {"L10n.Preferences.saveMinNormal", "Min save interval (normal): %@ sec", b.saveMinNormal, 1, 30, 0.5,
         1},
        {"L10n.Preferences.saveMinVideo", "Min save interval (video mode): %@ sec", b.saveMinVideo, 5, 60, 1,
         0},
    };
    for (const auto& s : sliders) {
        rows->addWidget(form_.slider(
            [key = s.key, english = s.english, decimals = s.decimals](double value) {
                return L10n::localized(key, english, {secondsText(value, decimals)});
            },
            s.value, s.minimum, s.maximum, s.step));
    }

    rows->addWidget(form_.toggle(
        text("L10n.Common.embedScreenshots", "Embed screenshots in summary as Base64"), b.embedEnabled));
    auto* widthRow = new QWidget;
    auto* widthLayout = new QHBoxLayout(widthRow);
    widthLayout->setContentsMargins(0, 0, 0, 0);
    widthLayout->addWidget(new QLabel(
        QString::fromStdString(text("L10n.Common.maxEmbedImageWidth", "Max embedded image width"))));
    widthLayout->addWidget(form_.intPicker(
                               [] {
                                   std::vector<std::pair<QString, std::int64_t>> items;
                                   for (const std::int64_t width : {320, 640, 960, 1280}) {
                                       items.emplace_back(QString::fromStdString(L10n::localized(
                                                              "L10n.Common.widthPixels", "%d px", {width})),
                                                          width);
                                   }
                                   return items;
                               },
                               b.embedMaxWidth),
                           1);
    rows->addWidget(widthRow);
    form_.visibleWhen(widthRow, [embed = b.embedEnabled] { return embed.get(); });
    rows->addWidget(makeCaption(text("L10n.Preferences.screenshotEmbedNote",
                                     "Specifies the maximum width of screenshots embedded in the summary.")));
    rows->addWidget(makeCaption(
        text("L10n.Preferences.screenshotOCRNote",
             "After recording stops, OCR text from captured images is added to the summary context.")));
    layout->addWidget(whileEnabled);
    form_.visibleWhen(whileEnabled, [enabled = b.enabled] { return enabled.get(); });
    refresh();
}

ModelListSource ModelListSource::shared() {
    return {.fetchModels =
                [](SummaryProvider provider, const std::string& apiKey, const std::string& baseURL) {
                    return RemoteModelFetchService::shared().fetchModels(provider, apiKey, baseURL);
                },
            .fetchOpenRouterModelInfos =
                [](const std::string& apiKey, bool freeOnly) {
                    return RemoteModelFetchService::shared().fetchOpenRouterModelInfos(apiKey, freeOnly);
                }};
}

ProviderModelSelectionView::ProviderModelSelectionView(ProviderSettingsViewModel& viewModel,
                                                       bool supportsCLIProviders,
                                                       std::vector<std::string> localSummaryModels,
                                                       ModelListSource lists, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel), supportsCLIProviders_(supportsCLIProviders),
      localSummaryModels_(std::move(localSummaryModels)), lists_(std::move(lists)),
      sessionScope_(viewModel.backing().isSessionOverride()) {
    rows_ = flatColumn(this);
    addLocalGroups();
    addHttpGroup(SummaryProvider::openAI, S::openAIAPIKey, S::openAIModel, "L10n.Preferences.openAIAPIKey",
                 "OpenAI API Key", "L10n.Preferences.openAIModel", "OpenAI Model");
    addHttpGroup(SummaryProvider::openRouter, S::openRouterAPIKey, S::openRouterModel,
                 "L10n.Common.openRouterAPI", "OpenRouter API Key", "L10n.Preferences.openRouterModel",
                 "OpenRouter Model");
    addHttpGroup(SummaryProvider::githubCopilotAPI, S::copilotAPIKey, S::copilotModel,
                 "L10n.Preferences.copilotAPIKey", "GitHub Copilot API Key", "L10n.Preferences.copilotModel",
                 "Copilot Model");
    addHttpGroup(SummaryProvider::claudeAPI, S::claudeAPIKey, S::claudeModel, "L10n.Preferences.claudeAPIKey",
                 "Claude API Key", "L10n.Preferences.claudeModel", "Claude Model");
    addCommandLineGroups();
    addOllamaGroup();
    addHttpGroup(SummaryProvider::geminiAPI, S::geminiAPIKey, S::geminiModel, "L10n.Preferences.geminiAPIKey",
                 "Gemini API Key", "L10n.Preferences.geminiModel", "Gemini Model");
    if (!supportsCLIProviders_) {
        rows_->addWidget(
            makeCaption(text("L10n.Preferences.appStoreNoCLI",
                             "CLI providers (Claude CLI / GitHub Copilot CLI) are not available in the "
                             "App Store version.")));
    }
    observation_ = viewModel_.observe([this] { refresh(); });
    refresh();
}

QWidget* ProviderModelSelectionView::group(std::function<bool()> condition) {
    auto* widget = new QWidget;
    rows_->addWidget(widget);
    form_.visibleWhen(widget, std::move(condition));
    return widget;
}

void ProviderModelSelectionView::addLocalGroups() {
    auto* local = group([this] {
        return provider_ == SummaryProvider::llamaCppLocal || provider_ == SummaryProvider::appleLocalLLM;
    });
    auto* layout = flatColumn(local);
    auto* pickerRow = new QWidget;
    auto* pickerLayout = new QHBoxLayout(pickerRow);
    pickerLayout->setContentsMargins(0, 0, 0, 0);
    pickerLayout->addWidget(new QLabel(
        QString::fromStdString(text("L10n.Preferences.localSummaryModel", "Local Summary Model"))));
    pickerLayout->addWidget(
        form_.picker(
            [this] {
                FormBindings::Options options;
                for (const std::string& model : localSummaryModels_) {
                    options.emplace_back(QString::fromStdString(model), model);
                }
                options.emplace_back(
                    QString::fromStdString(text("L10n.Preferences.customLocalModel", "Custom (Path)")),
                    "custom");
                return options;
            },
            viewModel_.textBinding(S::localSummaryModel)),
        1);
    layout->addWidget(pickerRow);
    auto* directory =
        form_.textField(text("L10n.Preferences.customLocalModelPath", "Absolute path to model directory"),
                        viewModel_.textBinding(S::localSummaryModelPath));
    layout->addWidget(directory);
    form_.visibleWhen(directory, [this] { return viewModel_.text(S::localSummaryModel) == "custom"; });
    layout->addWidget(form_.toggle(text("L10n.Preferences.preferDirectSummaryForAppleLocalLLM",
                                        "Direct Summary (Skip CoreML transcription overhead)"),
                                   viewModel_.flagBinding(S::preferDirectSummaryForAppleLocalLLM)));
    layout->addWidget(makeCaption(text("L10n.Preferences.preferDirectSummaryForAppleLocalLLMNote",
                                       "Skips Whisper transcription for performance. Requires MLX models and "
                                       "consumes high CPU/Memory.")));

    auto* llama = group([this] { return provider_ == SummaryProvider::llamaCppLocal; });
    auto* llamaLayout = flatColumn(llama);
    llamaLayout->addWidget(
        form_.textField(text("L10n.Preferences.customLocalModelPath", "Absolute path to model (.gguf)"),
                        viewModel_.textBinding(S::localSummaryModelPath)));
    llamaLayout->addWidget(form_.toggle(text("L10n.Preferences.preferDirectSummaryForLlamaCppLocal",
                                             "Direct Summary (Skip Llama.cpp transcription overhead)"),
                                        viewModel_.flagBinding(S::preferDirectSummaryForLlamaCppLocal)));
    llamaLayout->addWidget(
        makeCaption(text("L10n.Preferences.preferDirectSummaryForLlamaCppLocalNote",
                         "Skips Whisper transcription for performance. Requires capable Llama.cpp "
                         "backend.")));
}

ModelPickerField* ProviderModelSelectionView::addPicker(QVBoxLayout& layout, SummaryProvider provider,
                                                        const std::string& label, ProviderSetting model) {
    ModelPickerConfig config{.label = label, .selectedModel = viewModel_.textBinding(model)};
    if (provider == SummaryProvider::openRouter) {
        config.showFreeOnlyToggle = true;
        config.freeOnlyBinding = viewModel_.flagBinding(S::openRouterFreeOnly);
    }
    auto* picker = new ModelPickerField(std::move(config));
    layout.addWidget(picker);
    pickers_.emplace_back(provider, picker);
    return picker;
}

void ProviderModelSelectionView::addHttpGroup(SummaryProvider provider, ProviderSetting key,
                                              ProviderSetting model, const char* keyTitle,
                                              const char* keyDefault, const char* pickerTitle,
                                              const char* pickerDefault) {
    auto* widget = group([this, provider] { return provider_ == provider; });
    auto* layout = flatColumn(widget);
    if (!sessionScope_) {
        auto* field = new IMEDisabledSecureField(text(keyTitle, keyDefault), viewModel_.textBinding(key));
        layout->addWidget(field);
        form_.onSync([field] { field->refresh(); });
    }
    addPicker(*layout, provider, text(pickerTitle, pickerDefault), model);
    if (provider == SummaryProvider::openAI && sessionScope_) {
        layout->addWidget(makeCaption(text("L10n.Preferences.transcriptionAPIKeyNote",
                                           "Please set your API key in the Preferences window.")));
    }
}

void ProviderModelSelectionView::addCommandLineGroups() {
    const std::string modelName = text("L10n.Preferences.modelName", "Model name (empty for auto)");
    auto* claude = group([this] { return provider_ == SummaryProvider::claudeCLI; });
    flatColumn(claude)->addWidget(form_.textField(modelName, viewModel_.textBinding(S::claudeCLIModel)));

    auto* copilot = group([this] { return provider_ == SummaryProvider::copilotCLI; });
    auto* copilotLayout = flatColumn(copilot);
    copilotLayout->addWidget(form_.textField(modelName, viewModel_.textBinding(S::copilotCLIModel)));
    auto* acp = form_.toggle(text("L10n.Preferences.copilotCLIACPMode", "ACP Mode (persistent process)"),
                             viewModel_.flagBinding(S::copilotCLIUseACP));
    acp->setEnabled(!sessionScope_); // the tool's process is already running for this session
    copilotLayout->addWidget(acp);
    auto* note = sessionScope_
                     ? makeCaption(text("L10n.Preferences.copilotCLIACPModeSessionNote",
                                        "ACP mode setting cannot be changed after recording starts."))
                     : makeCaption(text("L10n.Preferences.copilotCLIACPModeWarning",
                                        "ACP mode keeps a persistent process for speed, but has a known "
                                        "issue where model selection is ignored. CLI mode is recommended."),
                                   CaptionTone::warning);
    copilotLayout->addWidget(note);
    form_.visibleWhen(note, [this] { return viewModel_.flag(S::copilotCLIUseACP); });

    auto* antigravity = group([this] { return provider_ == SummaryProvider::antigravityCLI; });
    addPicker(*flatColumn(antigravity), SummaryProvider::antigravityCLI, modelName, S::antigravityCLIModel);
}

void ProviderModelSelectionView::addOllamaGroup() {
    auto* ollama = group([this] { return provider_ == SummaryProvider::ollama; });
    auto* layout = flatColumn(ollama);
    addPicker(*layout, SummaryProvider::ollama, text("L10n.Preferences.ollamaModel", "Ollama Model"),
              S::ollamaModel);
    layout->addWidget(form_.textField(text("L10n.Preferences.ollamaServerURL", "Ollama Server URL"),
                                      viewModel_.textBinding(S::ollamaBaseURL)));
    layout->addWidget(makeCaption(text("L10n.Preferences.ollamaServerExample",
                                       "Example: http://localhost:11434 or http://192.168.1.10:11434")));
}

void ProviderModelSelectionView::setProvider(SummaryProvider provider) {
    provider_ = provider;
    refresh();
}

void ProviderModelSelectionView::refresh() {
    updateFetchActions();
    form_.sync();
    for (const auto& [provider, picker] : pickers_) {
        picker->refresh();
    }
}

// The keys and addresses as they are now, copied: the actions run on a worker thread.
void ProviderModelSelectionView::updateFetchActions() {
    const auto fetch = [this](SummaryProvider provider, std::string key, std::string url) {
        return [fetchModels = lists_.fetchModels, provider, key = std::move(key),
                url = std::move(url)](bool) { return fetchModels(provider, key, url); };
    };
    for (const auto& [provider, picker] : pickers_) {
        ModelPickerConfig::FetchModels models;
        ModelPickerConfig::FetchModelInfos infos;
        switch (provider) {
        case SummaryProvider::openAI:
            models = fetch(provider, viewModel_.text(S::openAIAPIKey), viewModel_.text(S::openAIBaseURL));
            break;
        case SummaryProvider::openRouter:
            infos = [fetchInfos = lists_.fetchOpenRouterModelInfos,
                     key = viewModel_.text(S::openRouterAPIKey)](bool freeOnly) {
                return fetchInfos(key, freeOnly);
            };
            break;
        case SummaryProvider::githubCopilotAPI:
            models = fetch(provider, viewModel_.text(S::copilotAPIKey), viewModel_.text(S::copilotBaseURL));
            break;
        case SummaryProvider::claudeAPI:
            models = fetch(provider, viewModel_.text(S::claudeAPIKey), viewModel_.text(S::claudeBaseURL));
            break;
        case SummaryProvider::antigravityCLI:
            models = fetch(provider, "", "");
            break;
        case SummaryProvider::ollama:
            models = fetch(provider, "", viewModel_.text(S::ollamaBaseURL));
            break;
        case SummaryProvider::geminiAPI:
            models = fetch(provider, viewModel_.text(S::geminiAPIKey), viewModel_.text(S::geminiBaseURL));
            break;
        default:
            break;
        }
        picker->model().setFetchActions(std::move(models), std::move(infos));
    }
}

ModelPickerField* ProviderModelSelectionView::modelPicker(SummaryProvider provider) const {
    for (const auto& [owner, picker] : pickers_) {
        if (owner == provider) {
            return picker;
        }
    }
    return nullptr;
}

} // namespace velnote
