#include "ui/preview/ResummarizePanel.h"

#include "platform/json/RawValue.h"
#include "providers/models/RemoteModelFetchService.h"
#include "session/config/SummaryProvider.h"
#include "session/keychain/KeychainHelper.h"
#include "session/l10n/L10n.h"
#include "ui/controls/ModelPickerField.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace velnote {
namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QLabel* title(const std::string& text, QWidget* parent) {
    auto* label = new QLabel(qs(text), parent);
    label->setStyleSheet(QStringLiteral("font-weight: 500;"));
    return label;
}

// The model list of a provider with an API key (read from the keyring at each fetch) or without.
ModelPickerConfig::FetchModels listSource(SummaryProvider provider, std::optional<std::string> keyAccount,
                                          std::string baseURL) {
    return [provider, keyAccount = std::move(keyAccount), baseURL = std::move(baseURL)](bool) {
        const std::string key = keyAccount ? KeychainHelper().load(*keyAccount) : std::string();
        return RemoteModelFetchService::shared().fetchModels(provider, key, baseURL);
    };
}

} // namespace

ResummarizePanel::ResummarizePanel(SummaryPreviewState& state, QWidget* parent)
    : QWidget(parent), state_(state) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 10, 14, 10);
    row->setSpacing(12);
    row->setAlignment(Qt::AlignTop);

    auto* noteColumn = new QVBoxLayout;
    noteColumn->setSpacing(6);
    noteColumn->addWidget(
        title(L10n::localized("L10n.Summary.noteLabel", "Notes / Additional Instructions"), this));
    note_ = new QPlainTextEdit(this);
    note_->setFixedHeight(60);
    note_->setPlaceholderText(qs(L10n::localized("L10n.Summary.notePlaceholder",
                                                 "e.g. Please highlight action items with bullet points")));
    connect(note_, &QPlainTextEdit::textChanged, this, [this] {
        if (!syncing_)
            edit([this](ResummarizeSelections& s) { s.userNote = note_->toPlainText().toStdString(); });
    });
    noteColumn->addWidget(note_);
    row->addLayout(noteColumn, 1);

    providerColumn_ = new QVBoxLayout;
    providerColumn_->setSpacing(6);
    providerColumn_->addWidget(title(L10n::localized("L10n.Summary.aiProvider", "AI Provider"), this));
    provider_ = new QComboBox(this);
    provider_->setMaximumWidth(200);
    for (SummaryProvider provider : availableProviders())
        provider_->addItem(qs(label(provider)),
                           QString::fromUtf8(rawValue(provider).data(), rawValue(provider).size()));
    connect(provider_, &QComboBox::activated, this, [this](int index) {
        const std::string value = provider_->itemData(index).toString().toStdString();
        edit([&](ResummarizeSelections& s) { s.selectedProvider = value; });
    });
    providerColumn_->addWidget(provider_);
    providerColumn_->addStretch(1);
    row->addLayout(providerColumn_);

    auto* startColumn = new QVBoxLayout;
    startColumn->addStretch(1);
    start_ = new QPushButton(this);
    start_->setDefault(true);
    connect(start_, &QPushButton::clicked, this, [this] { state_.startResummarize(); });
    startColumn->addWidget(start_);
    row->addLayout(startColumn);
    refresh();
}

void ResummarizePanel::edit(const std::function<void(ResummarizeSelections&)>& change) {
    ResummarizeSelections selections = state_.selections();
    change(selections);
    state_.setSelections(std::move(selections));
}

void ResummarizePanel::refresh() {
    syncing_ = true;
    const ResummarizeSelections& selections = state_.selections();
    if (note_->toPlainText().toStdString() != selections.userNote)
        note_->setPlainText(qs(selections.userNote));
    // A stored value that no offered provider has leaves the picker without a selection.
    provider_->setCurrentIndex(provider_->findData(qs(selections.selectedProvider)));
    if (!modelControlBuilt_ || modelControlProvider_ != selections.selectedProvider)
        rebuildModelControl();
    else if (auto* picker = dynamic_cast<ModelPickerField*>(modelControl_))
        picker->refresh();
    else if (auto* field = dynamic_cast<QLineEdit*>(modelControl_)) {
        const std::string& typed = state_.selections().selectedProvider == "claude_cli"
                                       ? selections.selectedClaudeCLIModel
                                       : selections.selectedCopilotCLIModel;
        if (field->text().toStdString() != typed)
            field->setText(qs(typed));
    }
    if (state_.isResummarizing()) {
        start_->setText(qs(L10n::localized("L10n.Summary.running", "Running...")));
        start_->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    } else {
        start_->setText(QStringLiteral("再要約"));
        start_->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    }
    start_->setEnabled(!state_.isResummarizing());
    syncing_ = false;
}

// Each provider gets a control of its own, so a list fetched for one never shows for another.
void ResummarizePanel::rebuildModelControl() {
    delete modelControl_;
    modelControl_ = nullptr;
    modelControlBuilt_ = true;
    modelControlProvider_ = state_.selections().selectedProvider;
    const auto provider = platform::fromRawValue<SummaryProvider>(modelControlProvider_);
    if (!provider)
        return;
    const std::string baseURL = state_.selections().selectedProviderBaseURL;
    SummaryPreviewState* state = &state_;
    auto binding = [state](std::string ResummarizeSelections::*member) {
        return Binding<std::string>([state, member] { return state->selections().*member; },
                                    [state, member](const std::string& value) {
                                        ResummarizeSelections s = state->selections();
                                        s.*member = value;
                                        state->setSelections(std::move(s));
                                    });
    };
    auto picker = [&](std::string ResummarizeSelections::*member, ModelPickerConfig::FetchModels fetch,
                      ModelPickerConfig::FetchModelInfos fetchInfos = {}) {
        const bool freeOnly = static_cast<bool>(fetchInfos);
        return new ModelPickerField(ModelPickerConfig{.label = "モデル名",
                                                      .selectedModel = binding(member),
                                                      .fetchModels = std::move(fetch),
                                                      .fetchModelInfos = std::move(fetchInfos),
                                                      .showFreeOnlyToggle = freeOnly,
                                                      .freeOnlyBinding = std::nullopt},
                                    this);
    };
    auto textField = [&](std::string ResummarizeSelections::*member) {
        auto* field = new QLineEdit(qs(state_.selections().*member), this);
        field->setPlaceholderText(QStringLiteral("モデル名"));
        field->setMaximumWidth(200);
        connect(field, &QLineEdit::textEdited, this, [this, member](const QString& text) {
            edit([&](ResummarizeSelections& s) { s.*member = text.toStdString(); });
        });
        return field;
    };
    using S = ResummarizeSelections;
    switch (*provider) {
    case SummaryProvider::openAI:
        modelControl_ = picker(&S::selectedProviderModel,
                               listSource(SummaryProvider::openAI, KeychainHelper::openAIAPIKey, baseURL));
        break;
    case SummaryProvider::openRouter:
        modelControl_ = picker(&S::selectedProviderModel, {}, [](bool freeOnly) {
            return RemoteModelFetchService::shared().fetchOpenRouterModelInfos(
                KeychainHelper().load(KeychainHelper::openRouterAPIKey), freeOnly);
        });
        break;
    case SummaryProvider::githubCopilotAPI:
        modelControl_ = picker(&S::selectedProviderModel, listSource(SummaryProvider::githubCopilotAPI,
                                                                     KeychainHelper::copilotAPIKey, baseURL));
        break;
    case SummaryProvider::claudeAPI:
        modelControl_ = picker(&S::selectedProviderModel,
                               listSource(SummaryProvider::claudeAPI, KeychainHelper::claudeAPIKey, baseURL));
        break;
    case SummaryProvider::ollama:
        modelControl_ =
            picker(&S::selectedProviderModel, listSource(SummaryProvider::ollama, std::nullopt, baseURL));
        break;
    case SummaryProvider::antigravityCLI:
        modelControl_ = picker(&S::selectedAntigravityCLIModel,
                               listSource(SummaryProvider::antigravityCLI, std::nullopt, ""));
        break;
    case SummaryProvider::claudeCLI:
        modelControl_ = textField(&S::selectedClaudeCLIModel);
        break;
    case SummaryProvider::copilotCLI:
        modelControl_ = textField(&S::selectedCopilotCLIModel);
        break;
    default:
        return;
    }
    providerColumn_->insertWidget(2, modelControl_);
}

} // namespace velnote
