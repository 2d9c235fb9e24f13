#pragma once

#include "session/folder/SessionStatusSnapshot.h"
#include "session/folder/SummaryRunConfig.h"

#include <QFrame>
#include <QLabel>
#include <QWidget>

namespace velnote {

// Small pieces of the summary window, each built from plain values.

// A capsule with a short text on a faint background (run configuration chips, read-only badge).
QLabel* makeChip(const QString& text, QWidget* parent = nullptr);

// A one-point line between rows or columns.
QFrame* makeDivider(Qt::Orientation orientation, QWidget* parent = nullptr);

// The line under the toolbar that tells how the shown version was produced: provider, chips for
// model, prompt and output language, a note icon whose tooltip is the note.
class RunConfigBar : public QWidget {
  public:
    explicit RunConfigBar(QWidget* parent = nullptr);
    void show(const SummaryRunConfig& config);

    // For tests: the texts shown, left to right, and the note's tooltip ("" without a note).
    QStringList texts() const;
    QString noteTip() const;

  private:
    void clear();
};

// The right-hand column: a session card (folder, creation time, recording time) and a pipeline
// card (provider, model, output language), from the snapshot the window was opened with.
class SummaryMetadataSidebar : public QWidget {
  public:
    explicit SummaryMetadataSidebar(const SessionStatusSnapshot& snapshot, QWidget* parent = nullptr);

    // For tests: each row as "first line: second line".
    QStringList rows() const { return rows_; }

  private:
    QWidget* card(const QString& heading, const std::vector<std::pair<QString, QString>>& rows, int maxLines);

    QStringList rows_;
};

} // namespace velnote
