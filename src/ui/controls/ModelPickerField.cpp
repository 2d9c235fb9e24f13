#include "ui/controls/ModelPickerField.h"

#include "session/l10n/L10n.h"
#include "ui/controls/CaptionText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace velnote {
namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

ModelPickerField::ModelPickerField(ModelPickerConfig config, QWidget* parent)
    : QWidget(parent), model_(ModelPickerState::create(std::move(config))) {
    build();
}

ModelPickerField::ModelPickerField(ModelPickerConfig config, platform::Executor& worker,
                                   platform::Executor& main, QWidget* parent)
    : QWidget(parent), model_(ModelPickerState::create(std::move(config), worker, main)) {
    build();
}

ModelPickerField::~ModelPickerField() {
    // A fetch still out finds the model gone and is dropped; it must not call back into us.
    model_->setOnChange(nullptr);
}

void ModelPickerField::build() {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    line_ = new QStackedWidget(this);

    auto* normal = new QWidget(line_);
    auto* normalRow = new QHBoxLayout(normal);
    normalRow->setContentsMargins(0, 0, 0, 0);
    normalRow->setSpacing(6);
    title_ = new QLabel(qs(model_->config().label), normal);
    title_->setTextFormat(Qt::PlainText);
    picker_ = new QComboBox(normal);
    picker_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    title_->setBuddy(picker_);
    refreshButton_ = new QToolButton(normal);
    refreshButton_->setAutoRaise(true);
    refreshButton_->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    refreshButton_->setToolTip(
        qs(L10n::localized("L10n.ModelFetch.fetchButtonHelp", "Fetch available models from API")));
    spinner_ = new QProgressBar(normal);
    spinner_->setRange(0, 0); // indeterminate
    spinner_->setTextVisible(false);
    spinner_->setFixedSize(16, 16);
    normalRow->addWidget(title_);
    normalRow->addWidget(picker_, 1);
    normalRow->addWidget(refreshButton_);
    normalRow->addWidget(spinner_);
    line_->addWidget(normal);

    auto* custom = new QWidget(line_);
    auto* customRow = new QHBoxLayout(custom);
    customRow->setContentsMargins(0, 0, 0, 0);
    customRow->setSpacing(6);
    customField_ = new QLineEdit(custom);
    customField_->setPlaceholderText(qs(model_->config().label));
    okButton_ = new QPushButton(qs(L10n::localized("L10n.Common.ok", "OK")), custom);
    cancelButton_ = new QPushButton(qs(L10n::localized("L10n.Common.cancel", "Cancel")), custom);
    customRow->addWidget(customField_, 1);
    customRow->addWidget(okButton_);
    customRow->addWidget(cancelButton_);
    line_->addWidget(custom);
    column->addWidget(line_);

    freeOnlyBox_ = new QCheckBox(qs(L10n::localized("L10n.ModelFetch.freeOnly", "Free models only")), this);
    applyCaptionStyle(*freeOnlyBox_);
    freeOnlyBox_->setVisible(model_->config().showFreeOnlyToggle);
    column->addWidget(freeOnlyBox_);

    errorLabel_ = makeCaption("", CaptionTone::error, this);
    column->addWidget(errorLabel_);

    connect(picker_, &QComboBox::activated, this, [this](int index) { choose(index); });
    connect(refreshButton_, &QToolButton::clicked, this, [this] { model_->loadModels(); });
    connect(customField_, &QLineEdit::textEdited, this,
            [this](const QString& text) { model_->setCustomModelText(text.toStdString()); });
    customField_->installEventFilter(this);
    connect(okButton_, &QPushButton::clicked, this, [this] { model_->commitCustom(); });
    connect(cancelButton_, &QPushButton::clicked, this, [this] { model_->cancelCustom(); });
    connect(freeOnlyBox_, &QCheckBox::clicked, this, [this](bool checked) { model_->setFreeOnly(checked); });

    model_->setOnChange([this] { refresh(); });
    refresh();
}

// Return in the custom field chooses the typed identifier, and only that: a line edit leaves the
// key to its window, where a dialog would press its default button (the preferences' Save).
bool ModelPickerField::eventFilter(QObject* watched, QEvent* event) {
    if (watched == customField_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            model_->commitCustom();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ModelPickerField::refresh() {
    model_->noticeFreeOnlyChange();
    const bool custom = model_->isCustomMode();
    if (custom && line_->currentIndex() == 0) {
        customField_->setText(qs(model_->customModelText()));
    }
    line_->setCurrentIndex(custom ? 1 : 0);
    fillPicker();
    refreshButton_->setEnabled(!model_->isLoading());
    refreshButton_->setVisible(!model_->isLoading());
    spinner_->setVisible(model_->isLoading());
    freeOnlyBox_->setChecked(model_->freeOnly());
    const auto& error = model_->fetchError();
    errorLabel_->setText(error ? qs(*error) : QString());
    errorLabel_->setVisible(error.has_value());
}

void ModelPickerField::fillPicker() {
    const QSignalBlocker blocker(picker_);
    picker_->clear();
    const std::string selection = model_->normalizedSelectedModel();
    int current = -1;
    for (const ModelPickerState::Entry& entry : model_->entries()) {
        if (entry.kind == ModelPickerState::Entry::Kind::divider) {
            picker_->insertSeparator(picker_->count());
            continue;
        }
        if (current < 0 && entry.value == selection) {
            current = picker_->count();
        }
        picker_->addItem(qs(entry.title), qs(entry.value));
    }
    picker_->setCurrentIndex(current);
}

void ModelPickerField::choose(int index) {
    if (index < 0) {
        return;
    }
    model_->setNormalizedSelectedModel(picker_->itemData(index).toString().toStdString());
}

} // namespace velnote
