#pragma once

#include "ui/preview/core/SummaryPreviewState.h"

#include <QWidget>
#include <memory>

class QButtonGroup;
class QComboBox;
class QLabel;
class QParallelAnimationGroup;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QToolButton;

namespace velnote {

class MarkdownPreviewWebView;
class ResummarizePanel;
class RunConfigBar;

// The content of one summary window: the toolbar (versions, read-only badge, Preview / Markdown
// tabs, re-summarize, reveal, saving indicator), the run configuration bar, the re-summarize
// panel, the content (rendered, source text or source editor) and the metadata sidebar. It shows
// a SummaryPreviewState and hands the user's actions to it. Main thread only.
class SummaryPreviewView : public QWidget {
  public:
    // Reveals a file in the file manager; empty = the desktop's file manager.
    using Reveal = std::function<void(const std::filesystem::path&)>;
    // Opens another version's window.
    using OpenVersion = std::function<void(const SessionStatusSnapshot&, const SummaryVersion&)>;

    SummaryPreviewView(std::unique_ptr<SummaryPreviewState> state, OpenVersion openVersion,
                       Reveal reveal = {}, QWidget* parent = nullptr);
    ~SummaryPreviewView() override;

    SummaryPreviewState& state() { return *state_; }

    // The parts, for tests.
    QComboBox* versionPicker() const { return versionPicker_; }
    QLabel* versionLabel() const { return versionLabel_; }
    QToolButton* openVersionButton() const { return openVersionButton_; }
    QLabel* readOnlyBadge() const { return readOnlyBadge_; }
    QPushButton* previewTab() const { return previewTab_; }
    QPushButton* sourceTab() const { return sourceTab_; }
    QPushButton* resummarizeButton() const { return resummarizeButton_; }
    QToolButton* revealButton() const { return revealButton_; }
    QProgressBar* savingIndicator() const { return savingIndicator_; }
    RunConfigBar* runConfigBar() const { return runConfigBar_; }
    ResummarizePanel* resummarizePanel() const { return panel_; }
    QStackedWidget* content() const { return content_; }
    QPlainTextEdit* sourceEditor() const { return editor_; }
    QPlainTextEdit* sourceText() const { return readOnlyText_; }
    MarkdownPreviewWebView* webView() const { return webView_; }

  private:
    QWidget* buildToolbar();
    void buildPanelAnimation();
    void setPanelShown(bool shown);
    void refresh();
    void refreshVersions();
    void refreshContent();

    std::unique_ptr<SummaryPreviewState> state_;
    OpenVersion openVersion_;
    Reveal reveal_;
    bool refreshing_ = false;

    QComboBox* versionPicker_ = nullptr;
    QLabel* versionLabel_ = nullptr;
    QToolButton* openVersionButton_ = nullptr;
    QLabel* readOnlyBadge_ = nullptr;
    QButtonGroup* tabs_ = nullptr;
    QPushButton* previewTab_ = nullptr;
    QPushButton* sourceTab_ = nullptr;
    QPushButton* resummarizeButton_ = nullptr;
    QToolButton* revealButton_ = nullptr;
    QProgressBar* savingIndicator_ = nullptr;
    QWidget* runConfigRow_ = nullptr;
    RunConfigBar* runConfigBar_ = nullptr;
    QWidget* panelRow_ = nullptr;
    ResummarizePanel* panel_ = nullptr;
    QParallelAnimationGroup* panelAnimation_ = nullptr;
    bool panelShown_ = false; // where the panel is, or is heading
    QStackedWidget* content_ = nullptr;
    QWidget* loadingPage_ = nullptr;
    QPlainTextEdit* readOnlyText_ = nullptr;
    QPlainTextEdit* editor_ = nullptr;
    MarkdownPreviewWebView* webView_ = nullptr;
};

} // namespace velnote
