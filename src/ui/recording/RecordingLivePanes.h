#pragma once

#include "ui/recording/RecordingViewContext.h"
#include "ui/recording/RecordingWidgets.h"

#include <QWidget>
#include <optional>

class QCheckBox;
class QPlainTextEdit;
class QSlider;
#include <QToolButton>

namespace velnote {

class MarkdownPreviewWebView;

// A switch row and a pane share this: below 380 points wide the labels go.
class NarrowAwareRow : public QWidget {
  public:
    using QWidget::QWidget;
    std::function<void()> onWidthChanged;
    bool narrow() const { return width() < 380; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
};

// The "Copied" confirmation of a copy button: shown for 1.5 s after each copy; a later copy
// starts its own wait, and the first wait to end clears it.
class CopyButton : public QToolButton {
  public:
    explicit CopyButton(QWidget* parent = nullptr);
    bool copied() const { return copied_; }
    void confirmCopy();

  private:
    void showCopied(bool copied);
    bool copied_ = false;
};

// The "transcription" section: the translation switch row and the live transcript pane.
class TranscriptSection : public QWidget {
  public:
    explicit TranscriptSection(RecordingViewContext& context, QWidget* parent = nullptr);
    void refresh();

    QCheckBox* translationSwitch() const { return switch_; }
    QLabel* switchLabel() const { return switchLabel_; }
    QLabel* languageName() const { return language_; }
    QLabel* statusText() const { return status_; }
    CopyButton* copyButton() const { return copy_; }
    QPlainTextEdit* textArea() const { return text_; }

  private:
    void refreshControlRow();
    void refreshPane();

    RecordingViewContext& context_;
    NarrowAwareRow* row_;
    SymbolLabel* globe_;
    QLabel* switchLabel_;
    QCheckBox* switch_;
    QLabel* onOff_;
    QLabel* language_;
    QLabel* status_;
    CopyButton* copy_;
    QPlainTextEdit* text_;
    std::optional<std::string> lastSource_; // none before the first display
};

// The "summary" section: the live-summary switch and interval row and the summary pane.
class SummarySection : public QWidget {
  public:
    explicit SummarySection(RecordingViewContext& context, QWidget* parent = nullptr);
    void refresh();

    QCheckBox* enabledSwitch() const { return switch_; }
    QSlider* intervalSlider() const { return interval_; }
    QLabel* intervalText() const { return intervalText_; }
    QLabel* rowLabel() const { return rowLabel_; }
    QLabel* intervalLabel() const { return intervalLabel_; }
    QLabel* pendingText() const { return pending_; }
    QLabel* placeholder() const { return placeholder_; }
    QLabel* errorText() const { return error_; }
    // The rendered summary; made when the first summary is shown, none before.
    MarkdownPreviewWebView* summaryView() const { return summary_; }
    QWidget* summaryArea() const { return summaryArea_; }
    CopyButton* copyButton() const { return copy_; }

  private:
    RecordingViewContext& context_;
    NarrowAwareRow* row_;
    SymbolLabel* sparkles_;
    QLabel* rowLabel_;
    QCheckBox* switch_;
    QLabel* onOff_;
    QLabel* intervalLabel_;
    QSlider* interval_;
    QLabel* intervalText_;
    QLabel* pending_;
    CopyButton* copy_;
    QWidget* summaryArea_;
    MarkdownPreviewWebView* summary_ = nullptr;
    QLabel* placeholder_;
    QLabel* error_;
    bool refreshing_ = false;
};

// The compact layout's latest transcript line; nothing when there is none.
class CompactLatestLine : public QLabel {
  public:
    explicit CompactLatestLine(QWidget* parent = nullptr);
    void setLine(const std::string& line);
    const QString& line() const { return line_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void elide();
    QString line_;
};

} // namespace velnote
