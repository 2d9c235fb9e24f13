#include "ui/models/ModelManagementView.h"

#include "platform/concurrency/SystemClock.h"
#include "platform/text/RelativeDate.h"
#include "session/l10n/L10n.h"
#include "ui/models/WindowStyle.h"
#include "ui/models/core/ByteCountText.h"
#include "ui/theme/AppTheme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace velnote {
namespace {

QString text(std::string_view key, std::string_view english) {
    return QString::fromStdString(L10n::localized(key, english));
}

enum Area { loadingArea, errorArea, emptyArea, listArea };

// A caption in the secondary style with a symbol before it.
QWidget* captionWithSymbol(const QString& symbol, const QString& caption, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);
    auto* label = new QLabel(row);
    label->setTextFormat(Qt::PlainText);
    label->setText(caption);
    WindowStyle::caption2(*label);
    WindowStyle::secondary(*label);
    layout->addWidget(WindowStyle::symbolLabel(symbol, WindowStyle::secondaryColor(*label), 10, row));
    layout->addWidget(label);
    return row;
}

// A centred state in place of the list: a symbol over a caption, then room below.
QWidget* placeholder(QLabel*& captionOut, const QString& symbol, const QColor& tint, int symbolSize) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setSpacing(8);
    auto* caption = new QLabel(page);
    caption->setAlignment(Qt::AlignCenter);
    caption->setWordWrap(true);
    WindowStyle::caption(*caption);
    WindowStyle::secondary(*caption);
    const QColor ink = tint.isValid() ? tint : WindowStyle::secondaryColor(*caption);
    layout->addWidget(WindowStyle::symbolLabel(symbol, ink, symbolSize, page), 0, Qt::AlignHCenter);
    layout->addWidget(caption);
    layout->addStretch(1);
    captionOut = caption;
    return page;
}

} // namespace

ModelListItemView::ModelListItemView(const ModelInfo& model, QWidget* parent)
    : QWidget(parent), model_(model) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(6, 4, 6, 4);
    const bool summary = model.type == ModelType::summarization;
    row->addWidget(WindowStyle::symbolLabel(summary ? "doc.text.fill" : "waveform.circle.fill",
                                            summary ? QColor(Qt::darkGreen) : QColor(0x1e, 0x6f, 0xd9), 14,
                                            this));
    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    auto* name = new QLabel(this);
    name->setObjectName("name");
    name->setTextFormat(Qt::PlainText); // a file name is never markup
    name->setText(name->fontMetrics().elidedText(QString::fromStdString(model.name), Qt::ElideMiddle, 440));
    column->addWidget(name);
    auto* details = new QHBoxLayout;
    details->setSpacing(12);
    const QString kind = summary ? text("L10n.Model.summarization", "Summarization model")
                                 : text("L10n.Model.whisper", "Whisper model");
    details->addWidget(captionWithSymbol("tag", kind, this));
    details->addWidget(
        captionWithSymbol("doc.fill", QString::fromStdString(formatByteCount(model.size)), this));
    const std::string age =
        platform::relativeDateString(model.modifiedDate, platform::SystemClock::shared().wallNow());
    details->addWidget(captionWithSymbol("calendar", QString::fromStdString(age), this));
    details->addStretch(1);
    column->addLayout(details);
    row->addLayout(column, 1);
}

ModelManagementView::ModelManagementView(ModelManagementState& state, QWidget* parent)
    : QWidget(parent), state_(state) {
    setMinimumSize(500, 400);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(16);
    layout->addWidget(buildHeader());
    layout->addWidget(buildNote());
    layout->addWidget(buildArea(), 1);
    state_.setOnChange([this] { render(); });
    render();
}

ModelManagementView::~ModelManagementView() {
    state_.setOnChange({});
}

QWidget* ModelManagementView::buildHeader() {
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    auto* title = new QLabel(text("L10n.ModelManagement.downloadedModels", "Downloaded Models"), header);
    WindowStyle::headline(*title);
    totalLabel_ = new QLabel(header);
    WindowStyle::caption(*totalLabel_);
    WindowStyle::secondary(*totalLabel_);
    titles->addWidget(title);
    titles->addWidget(totalLabel_);
    row->addLayout(titles);
    row->addStretch(1);
    clearButton_ = new QPushButton(text("L10n.ModelManagement.clear", "Clear"), header);
    deleteButton_ = new QPushButton(text("L10n.Common.delete", "Delete"), header);
    for (QPushButton* button : {clearButton_, deleteButton_}) {
        WindowStyle::caption(*button);
        button->setAutoDefault(false);
        row->addWidget(button);
    }
    QPalette destructive = deleteButton_->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) // disabled stays grey
        destructive.setColor(group, QPalette::ButtonText, QColor(0xd9, 0x30, 0x25));
    deleteButton_->setPalette(destructive);
    connect(clearButton_, &QPushButton::clicked, this, [this] { state_.clearSelection(); });
    connect(deleteButton_, &QPushButton::clicked, this, [this] { state_.requestDeletion(); });
    return header;
}

QWidget* ModelManagementView::buildNote() {
    auto* note = new QWidget(this);
    auto* row = new QHBoxLayout(note);
    row->setContentsMargins(4, 0, 4, 0);
    row->setSpacing(6);
    auto* label = new QLabel(
        text("L10n.ModelManagement.whisperNote",
             "Whisper models are managed per repository (quorvaneinc/vocalith-coreml). If multiple "
             "variants such as base and medium are used, deleting removes all variants together."),
        note);
    label->setWordWrap(true);
    WindowStyle::caption(*label);
    WindowStyle::secondary(*label);
    row->addWidget(WindowStyle::symbolLabel("info.circle", WindowStyle::secondaryColor(*label), 12, note), 0,
                   Qt::AlignTop);
    row->addWidget(label, 1);
    return note;
}

QWidget* ModelManagementView::buildArea() {
    area_ = new QStackedWidget(this);

    auto* loading = new QWidget;
    auto* loadingLayout = new QVBoxLayout(loading);
    auto* loadingRow = new QHBoxLayout;
    loadingRow->setSpacing(8);
    auto* spinner = new QProgressBar(loading);
    spinner->setRange(0, 0); // busy
    spinner->setTextVisible(false);
    spinner->setFixedSize(48, 10);
    auto* loadingText =
        new QLabel(text("L10n.ModelManagement.loadingModelInfo", "Loading model information..."));
    WindowStyle::caption(*loadingText);
    WindowStyle::secondary(*loadingText);
    loadingRow->addStretch(1);
    loadingRow->addWidget(spinner);
    loadingRow->addWidget(loadingText);
    loadingRow->addStretch(1);
    loadingLayout->addLayout(loadingRow);
    loadingLayout->addStretch(1);

    QLabel* emptyText = nullptr;
    QWidget* empty = placeholder(emptyText, "folder.badge.questionmark", {}, 28);
    emptyText->setText(text("L10n.ModelManagement.noDownloadedModels", "No downloaded models"));
    QWidget* error = placeholder(errorLabel_, "exclamationmark.circle.fill", QColor(0xd9, 0x30, 0x25), 20);
    errorLabel_->setTextFormat(Qt::PlainText);

    list_ = new QListWidget;
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setFrameShape(QFrame::NoFrame);
    list_->setSpacing(2);
    list_->viewport()->setAutoFillBackground(false); // the window background shows through
    list_->setAutoFillBackground(false);
    connect(list_, &QListWidget::itemSelectionChanged, this, [this] {
        if (syncing_)
            return;
        std::set<std::string> ids;
        for (QListWidgetItem* item : list_->selectedItems())
            ids.insert(item->data(Qt::UserRole).toString().toStdString());
        state_.setSelectedModels(std::move(ids));
    });

    area_->insertWidget(loadingArea, loading);
    area_->insertWidget(errorArea, error);
    area_->insertWidget(emptyArea, empty);
    area_->insertWidget(listArea, list_);
    return area_;
}

void ModelManagementView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    state_.loadModels();
}

QString ModelManagementView::currentArea() const {
    static const char* names[] = {"loading", "error", "empty", "list"};
    return names[area_->currentIndex()];
}

void ModelManagementView::render() {
    totalLabel_->setText(QString::fromStdString(state_.totalSizeText()));
    clearButton_->setEnabled(state_.hasSelection());
    deleteButton_->setEnabled(state_.hasSelection());
    if (state_.isLoading()) {
        area_->setCurrentIndex(loadingArea);
    } else if (state_.errorMessage()) {
        errorLabel_->setText(QString::fromStdString(*state_.errorMessage()));
        area_->setCurrentIndex(errorArea);
    } else if (state_.models().empty()) {
        area_->setCurrentIndex(emptyArea);
    } else {
        area_->setCurrentIndex(listArea);
    }
    renderList();
    syncSelectionToList();
    if (state_.showDeleteConfirmation() && confirmation_ == nullptr)
        openConfirmation();
}

void ModelManagementView::renderList() {
    std::vector<std::string> ids;
    for (const ModelInfo& model : state_.models())
        ids.push_back(model.id);
    if (ids == shownIds_)
        return;
    syncing_ = true;
    list_->clear();
    const QColor card = AppTheme::cardBackground().resolve(palette());
    for (const ModelInfo& model : state_.models()) {
        auto* item = new QListWidgetItem(list_);
        item->setData(Qt::UserRole, QString::fromStdString(model.id));
        item->setBackground(card);
        auto* row = new ModelListItemView(model);
        item->setSizeHint(row->sizeHint());
        list_->setItemWidget(item, row);
    }
    shownIds_ = std::move(ids);
    syncing_ = false;
}

void ModelManagementView::syncSelectionToList() {
    syncing_ = true;
    for (int i = 0; i < list_->count(); ++i) {
        QListWidgetItem* item = list_->item(i);
        item->setSelected(
            state_.selectedModels().contains(item->data(Qt::UserRole).toString().toStdString()));
    }
    syncing_ = false;
}

void ModelManagementView::openConfirmation() {
    auto* box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(text("L10n.ModelManagement.confirm", "Confirm"));
    box->setTextFormat(Qt::PlainText);
    box->setText(QString::fromStdString(state_.deleteConfirmationMessage()));
    QPushButton* remove = box->addButton(text("L10n.Common.delete", "Delete"), QMessageBox::DestructiveRole);
    box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(QMessageBox::Cancel);
    connect(box, &QMessageBox::finished, this, [this, box, remove] {
        if (box->clickedButton() == remove) {
            state_.deleteSelectedModels();
        } else {
            state_.dismissDeleteConfirmation();
        }
    });
    confirmation_ = box;
    box->open(); // modal to this window, without a nested event loop
}

} // namespace velnote
