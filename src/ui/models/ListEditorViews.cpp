#include "ui/models/ListEditorViews.h"

#include "session/l10n/L10n.h"
#include "ui/models/WindowStyle.h"
#include "ui/theme/AppTheme.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStyle>
#include <QVBoxLayout>

namespace velnote {
namespace {

QString text(std::string_view key, std::string_view english) {
    return QString::fromStdString(L10n::localized(key, english));
}

QString idText(const platform::Uuid& id) {
    return QString::fromStdString(id.toString());
}

enum Page { emptyPage, listPage };

// The phrase field's ink: the text colour while its entry is on, the secondary colour while off.
void dim(QLineEdit& field, bool dimmed) {
    QPalette palette = field.palette();
    palette.setColor(QPalette::Text, dimmed ? WindowStyle::secondaryColor(field)
                                            : field.style()->standardPalette().color(QPalette::Text));
    field.setPalette(palette);
    field.setProperty("dimmed", dimmed);
}

} // namespace

ListEditorView::ListEditorView(const QString& description, const QString& emptyText, const QString& addText,
                               QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* about = new QLabel(description, this);
    about->setWordWrap(true);
    WindowStyle::caption(*about);
    WindowStyle::secondary(*about);
    about->setContentsMargins(12, 12, 12, 8);
    layout->addWidget(about);
    layout->addWidget(WindowStyle::divider(this));

    area_ = new QStackedWidget(this);
    auto* empty = new QLabel(emptyText);
    empty->setObjectName("emptyText");
    empty->setAlignment(Qt::AlignCenter);
    WindowStyle::secondary(*empty);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->viewport()->setAutoFillBackground(false); // the window background shows through
    rowsHost_ = new QWidget;
    rowsHost_->setAutoFillBackground(false);
    rowsLayout_ = new QVBoxLayout(rowsHost_);
    rowsLayout_->setContentsMargins(8, 6, 8, 6);
    rowsLayout_->setSpacing(4);
    rowsLayout_->addStretch(1);
    scroll->setWidget(rowsHost_);
    area_->insertWidget(emptyPage, empty);
    area_->insertWidget(listPage, scroll);
    layout->addWidget(area_, 1);
    layout->addWidget(WindowStyle::divider(this));

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(12, 10, 12, 10);
    addButton_ =
        new QPushButton(WindowStyle::symbol("plus", palette().color(QPalette::ButtonText)), addText, this);
    addButton_->setAutoDefault(false);
    connect(addButton_, &QPushButton::clicked, this, [this] {
        addEntry();
        rebuildRows();
    });
    bar->addWidget(addButton_);
    bar->addStretch(1);
    buttonBar_ = bar;
    layout->addLayout(bar);
}

QList<QWidget*> ListEditorView::rows() const {
    QList<QWidget*> found;
    for (int i = 0; i < rowsLayout_->count(); ++i) {
        QWidget* row = rowsLayout_->itemAt(i)->widget();
        if (row != nullptr)
            found.push_back(row);
    }
    return found;
}

bool ListEditorView::showsEmptyText() const {
    return area_->currentIndex() == emptyPage;
}

void ListEditorView::rebuildRows() {
    // Old rows go once control is back in the event loop: the click that asked for this may come
    // from a button inside one of them.
    for (QWidget* row : rows()) {
        rowsLayout_->removeWidget(row);
        row->hide();
        row->deleteLater();
    }
    for (int i = 0; i < entryCount(); ++i)
        rowsLayout_->insertWidget(i, makeRow(i));
    area_->setCurrentIndex(entryCount() == 0 ? emptyPage : listPage);
}

QWidget* ListEditorView::rowFrame(QLayout*& layout) {
    auto* row = new QWidget(rowsHost_);
    row->setAutoFillBackground(true);
    QPalette palette = row->palette();
    palette.setColor(QPalette::Window, AppTheme::sectionHeaderBackground().resolve(this->palette()));
    row->setPalette(palette);
    auto* box = new QHBoxLayout(row);
    box->setContentsMargins(6, 2, 6, 2);
    box->setSpacing(8);
    layout = box;
    return row;
}

QPushButton* ListEditorView::deleteButton(QWidget* row) {
    auto* button = new QPushButton(row);
    button->setIcon(WindowStyle::symbol("minus.circle.fill", QColor(0xd9, 0x30, 0x25)));
    button->setFlat(true);
    button->setAutoDefault(false);
    button->setObjectName("delete");
    button->setToolTip(text("L10n.Common.delete", "Delete"));
    return button;
}

HallucinationFilterView::HallucinationFilterView(HallucinationFilterEditor& editor, QWidget* parent)
    : ListEditorView(text("L10n.HallucinationFilter.description",
                          "Register phrases to remove from transcription results. Useful forsuppressing "
                          "Whisper-specific hallucinations."),
                     text("L10n.HallucinationFilter.noEntries", "No entries"),
                     text("L10n.HallucinationFilter.addEntry", "Add Entry"), parent),
      editor_(editor) {
    setMinimumSize(420, 300);
    resetButton_ = new QPushButton(text("L10n.Common.resetToDefault", "Reset to Default"), this);
    resetButton_->setAutoDefault(false);
    connect(resetButton_, &QPushButton::clicked, this, [this] {
        editor_.resetToDefault();
        rebuildRows();
    });
    buttonBar().addWidget(resetButton_);
    rebuildRows();
}

int HallucinationFilterView::entryCount() const {
    return static_cast<int>(editor_.entries().size());
}

void HallucinationFilterView::addEntry() {
    editor_.addEntry();
}

QWidget* HallucinationFilterView::makeRow(int index) {
    const HallucinationFilterEntry& entry = editor_.entries()[static_cast<std::size_t>(index)];
    const platform::Uuid id = entry.id;
    QLayout* layout = nullptr;
    QWidget* row = rowFrame(layout);
    row->setProperty("entryId", idText(id));
    auto* enabled = new QCheckBox(row);
    enabled->setChecked(entry.isEnabled);
    auto* phrase = new QLineEdit(QString::fromStdString(entry.phrase), row);
    phrase->setPlaceholderText(text("L10n.HallucinationFilter.phraseToRemove", "Phrase to remove"));
    phrase->setClearButtonEnabled(false);
    dim(*phrase, !entry.isEnabled);
    QPushButton* remove = deleteButton(row);
    layout->addWidget(enabled);
    layout->addWidget(phrase);
    layout->addWidget(remove);
    connect(enabled, &QCheckBox::toggled, this, [this, id, phrase](bool on) {
        editor_.setEnabled(id, on);
        dim(*phrase, !on);
    });
    connect(phrase, &QLineEdit::textEdited, this,
            [this, id](const QString& value) { editor_.setPhrase(id, value.toStdString()); });
    connect(remove, &QPushButton::clicked, this, [this, id] {
        editor_.deleteEntry(id);
        rebuildRows();
    });
    return row;
}

UserDictionaryView::UserDictionaryView(UserDictionaryEditor& editor, QWidget* parent)
    : ListEditorView(text("L10n.UserDictionary.description",
                          "Register correction mappings for proper nouns and conversion mistakes.They are "
                          "automatically added to the final summary prompt."),
                     text("L10n.UserDictionary.noEntries", "No entries"),
                     text("L10n.UserDictionary.addEntry", "Add Entry"), parent),
      editor_(editor) {
    setMinimumSize(400, 300);
    rebuildRows();
}

int UserDictionaryView::entryCount() const {
    return static_cast<int>(editor_.entries().size());
}

void UserDictionaryView::addEntry() {
    editor_.addEntry();
}

QWidget* UserDictionaryView::makeRow(int index) {
    const UserDictionaryEntry& entry = editor_.entries()[static_cast<std::size_t>(index)];
    const platform::Uuid id = entry.id;
    QLayout* layout = nullptr;
    QWidget* row = rowFrame(layout);
    row->setProperty("entryId", idText(id));
    auto* wrong = new QLineEdit(QString::fromStdString(entry.wrong), row);
    wrong->setObjectName("wrong");
    wrong->setPlaceholderText(text("L10n.UserDictionary.wrong", "Incorrect"));
    auto* arrow = new QLabel(row);
    arrow->setPixmap(WindowStyle::symbol("arrow.right", WindowStyle::secondaryColor(*arrow)).pixmap(12, 12));
    auto* correct = new QLineEdit(QString::fromStdString(entry.correct), row);
    correct->setObjectName("correct");
    correct->setPlaceholderText(text("L10n.UserDictionary.correct", "Correct"));
    QPushButton* remove = deleteButton(row);
    layout->addWidget(wrong);
    layout->addWidget(arrow);
    layout->addWidget(correct);
    layout->addWidget(remove);
    connect(wrong, &QLineEdit::textEdited, this,
            [this, id](const QString& value) { editor_.setWrong(id, value.toStdString()); });
    connect(correct, &QLineEdit::textEdited, this,
            [this, id](const QString& value) { editor_.setCorrect(id, value.toStdString()); });
    connect(remove, &QPushButton::clicked, this, [this, id] {
        editor_.deleteEntry(id);
        rebuildRows();
    });
    return row;
}

} // namespace velnote
