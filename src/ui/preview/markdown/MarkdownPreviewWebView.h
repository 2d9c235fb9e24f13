#pragma once

#include <QUrl>
#include <QWebEngineView>
#include <functional>
#include <string>

class QContextMenuEvent;
class QWebChannel;

namespace velnote {

// Shows Markdown as a styled HTML page and keeps it current as the text changes. The first text
// loads a whole page (style sheet with light and dark colours, the diagram library, the rendered
// fragment); every later change replaces only the container's content by script and draws the new
// diagrams, without reloading. Setting the same text again does nothing.
//
// Optional, for an embedding view: `onExplain` receives the selection chosen with the context
// menu's "Explain Term" item (always the first item); with `Feature::reportsHeight` the page
// reports its content height to `onHeightReport` and wheel events go to the parent widget instead
// of scrolling the page. Whether the height is reported is decided at construction.
//
// Main thread only. Used by the summary preview and the recording window's live summary.
class MarkdownPreviewWebView : public QWebEngineView {
    Q_OBJECT

  public:
    enum class Feature { none, reportsHeight };

    explicit MarkdownPreviewWebView(const std::string& markdown = {}, Feature feature = Feature::none,
                                    QWidget* parent = nullptr);
    ~MarkdownPreviewWebView() override;

    // Shows `markdown` unless it is the text shown last.
    void setMarkdown(const std::string& markdown);
    const std::string& lastMarkdown() const { return lastMarkdown_; }
    bool didLoadInitialHTML() const { return didLoadInitialHTML_; }
    // True once the first page has finished loading (successfully or not).
    bool isPageLoaded() const { return pageLoaded_; }

    void setOnExplain(std::function<void(const std::string&)> onExplain) {
        onExplain_ = std::move(onExplain);
    }
    void setOnHeightReport(std::function<void(double)> onHeightReport) {
        onHeightReport_ = std::move(onHeightReport);
    }
    bool forwardsScrollEvents() const { return forwardsScrollEvents_; }

    // The action of "Explain Term": hands a selection that is not blank to `onExplain`.
    void explainSelection();

    // For the page's channel object.
    void receiveHeight(double height);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void updateWebView();
    void pageLoadFinished();

    std::string lastMarkdown_;
    // The text in the page that was loaded or last updated; an update asked for while the first
    // page still loads is applied once it has loaded.
    std::string pageMarkdown_;
    bool didLoadInitialHTML_ = false;
    bool pageLoaded_ = false;
    bool forwardsScrollEvents_ = false;
    bool reportsHeight_ = false;
    QUrl pageUrl_;
    QWebChannel* channel_ = nullptr;
    std::function<void(const std::string&)> onExplain_;
    std::function<void(double)> onHeightReport_;
};

} // namespace velnote
