#include "ui/settings/FormRows.h"

#include "platform/json/RawValue.h"
#include "session/l10n/L10n.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace velnote::form {

const std::vector<std::string>& whisperModels() {
    static const std::vector<std::string> models = {"tiny", "base", "small", "medium",
                                                    "large-v3-v20240930_626MB"};
    return models;
}

const std::vector<std::string>& localSummaryModels() {
    static const std::vector<std::string> models = {
        "qwen2.5-3b-instruct-mlx-4bit", "qwen2.5-7b-instruct-mlx-4bit", "qwen3-8b-instruct-mlx-4bit"};
    return models;
}

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

std::string text(const char* key, const char* english) {
    return L10n::localized(key, english);
}

QVBoxLayout* column(QWidget* widget, int spacing) {
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

QWidget* labelled(const std::string& title, QWidget* control) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(qs(title));
    label->setTextFormat(Qt::PlainText);
    layout->addWidget(label);
    layout->addWidget(control, 1);
    return row;
}

QFrame* divider() {
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QLabel* headline(const std::string& title) {
    auto* label = new QLabel(qs(title));
    label->setTextFormat(Qt::PlainText);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

std::optional<SummaryProvider> providerNamed(const std::string& value) {
    return platform::fromRawValue<SummaryProvider>(value);
}

FormBindings::Options summaryProviderOptions() {
    FormBindings::Options options;
    for (const SummaryProvider provider : availableProviders()) {
        options.emplace_back(qs(label(provider)), std::string(rawValue(provider)));
    }
    return options;
}

FormBindings::Options transcriptionProviderOptions() {
    return {{qs(text("L10n.Preferences.localWhisper", "Local Whisper")), "local"},
            {qs(text("L10n.Preferences.openAITranscription", "OpenAI / Groq API")), "openai"}};
}

FormBindings::Options whisperModelOptions() {
    FormBindings::Options options;
    for (const std::string& model : whisperModels()) {
        options.emplace_back(qs(model), model);
    }
    return options;
}

FormBindings::Options promptModeOptions() {
    return {{qs(text("L10n.Common.preset", "Preset")), "preset"},
            {qs(text("L10n.Common.custom", "Custom")), "custom"}};
}

FormBindings::Options languageOptions(const std::vector<LanguageOption>& languages) {
    FormBindings::Options options;
    for (const LanguageOption& language : languages) {
        options.emplace_back(qs(language.label), language.id);
    }
    return options;
}

} // namespace velnote::form
