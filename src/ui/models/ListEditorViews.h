#pragma once

#include "ui/models/core/HallucinationFilterEditor.h"
#include "ui/models/core/UserDictionaryEditor.h"

#include <QWidget>

class QPushButton;
class QStackedWidget;
class QVBoxLayout;

namespace velnote {

// What the two list editors' windows share: a description, a divider, the rows (or "No entries"
// in their place), a divider and a button bar. Rows are built anew when entries are added,
// deleted or reset; typing edits the entry in place. Main thread.
class ListEditorView : public QWidget {
  public:
    QPushButton* addButton() const { return addButton_; }
    // The rows in list order, each a widget whose property "entryId" holds its entry's id.
    QList<QWidget*> rows() const;
    // Whether "No entries" stands in place of the list.
    bool showsEmptyText() const;

  protected:
    ListEditorView(const QString& description, const QString& emptyText, const QString& addText,
                   QWidget* parent);

    // The button bar, for a view to add buttons after the spacer.
    QLayout& buttonBar() { return *buttonBar_; }
    // Builds the rows anew from the subclass's list.
    void rebuildRows();
    virtual int entryCount() const = 0;
    virtual QWidget* makeRow(int index) = 0;
    virtual void addEntry() = 0;

    // A row frame in the section background with `spacing` between its children.
    QWidget* rowFrame(QLayout*& layout);
    // The red minus button that deletes a row.
    QPushButton* deleteButton(QWidget* row);

  private:
    QStackedWidget* area_ = nullptr;
    QWidget* rowsHost_ = nullptr;
    QVBoxLayout* rowsLayout_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QLayout* buttonBar_ = nullptr;
};

// The hallucination filter's rows: a check box, the phrase (dimmed while its entry is off) and a
// delete button; "Add Entry" and "Reset to Default" below.
class HallucinationFilterView final : public ListEditorView {
  public:
    explicit HallucinationFilterView(HallucinationFilterEditor& editor, QWidget* parent = nullptr);

    QPushButton* resetButton() const { return resetButton_; }

  protected:
    int entryCount() const override;
    QWidget* makeRow(int index) override;
    void addEntry() override;

  private:
    HallucinationFilterEditor& editor_;
    QPushButton* resetButton_ = nullptr;
};

// The user dictionary's rows: "Incorrect" → "Correct" and a delete button; "Add Entry" below.
class UserDictionaryView final : public ListEditorView {
  public:
    explicit UserDictionaryView(UserDictionaryEditor& editor, QWidget* parent = nullptr);

  protected:
    int entryCount() const override;
    QWidget* makeRow(int index) override;
    void addEntry() override;

  private:
    UserDictionaryEditor& editor_;
};

} // namespace velnote
