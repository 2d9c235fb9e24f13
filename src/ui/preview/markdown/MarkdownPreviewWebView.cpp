#include "ui/preview/markdown/MarkdownPreviewWebView.h"

#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"
#include "ui/preview/markdown/PreviewUrlScheme.h"
#include "ui/preview/markdown/core/MarkdownPreviewPage.h"
#include "ui/preview/markdown/core/SimpleMarkdownHTMLRenderer.h"

#include <QAction>
#include <QApplication>
#include <QChildEvent>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWheelEvent>

namespace velnote {
namespace {

// The page's channel object "heightReport".
class HeightReporter final : public QObject {
    Q_OBJECT

  public:
    explicit HeightReporter(MarkdownPreviewWebView* view) : QObject(view), view_(view) {}

  public slots:
    void reportHeight(double height) { view_->receiveHeight(height); }

  private:
    MarkdownPreviewWebView* view_;
};

} // namespace

MarkdownPreviewWebView::MarkdownPreviewWebView(const std::string& markdown, Feature feature, QWidget* parent)
    : QWebEngineView((PreviewUrlScheme::installHandler(), parent)), lastMarkdown_(markdown),
      forwardsScrollEvents_(feature == Feature::reportsHeight),
      reportsHeight_(feature == Feature::reportsHeight) {
    page()->setBackgroundColor(Qt::transparent);
    if (reportsHeight_) {
        channel_ = new QWebChannel(this);
        channel_->registerObject(QStringLiteral("heightReport"), new HeightReporter(this));
        page()->setWebChannel(channel_);
    }
    connect(this, &QWebEngineView::loadFinished, this, [this](bool) { pageLoadFinished(); });
    updateWebView();
}

MarkdownPreviewWebView::~MarkdownPreviewWebView() {
    if (!pageUrl_.isEmpty())
        PreviewUrlScheme::removePage(pageUrl_);
}

void MarkdownPreviewWebView::setMarkdown(const std::string& markdown) {
    if (markdown == lastMarkdown_)
        return;
    lastMarkdown_ = markdown;
    updateWebView();
}

void MarkdownPreviewWebView::updateWebView() {
    const std::string fragment = SimpleMarkdownHTMLRenderer::render(lastMarkdown_);
    if (!didLoadInitialHTML_) {
        const std::string html = MarkdownPreviewPage::page(
            fragment, {.mermaidScriptElement = PreviewUrlScheme::hasBundledMermaid()
                                                   ? MarkdownPreviewPage::bundledMermaidScriptElement()
                                                   : MarkdownPreviewPage::fallbackMermaidScriptElement(),
                       .reportsHeight = reportsHeight_});
        pageUrl_ = PreviewUrlScheme::addPage(QByteArray::fromStdString(html));
        pageMarkdown_ = lastMarkdown_;
        didLoadInitialHTML_ = true;
        load(pageUrl_);
        return;
    }
    if (!pageLoaded_)
        return; // applied when the page has loaded
    const std::optional<std::string> script = MarkdownPreviewPage::updateScript(fragment);
    if (!script)
        return;
    pageMarkdown_ = lastMarkdown_;
    page()->runJavaScript(QString::fromStdString(*script));
}

void MarkdownPreviewWebView::pageLoadFinished() {
    if (pageLoaded_)
        return; // a later navigation (a followed link) is not the first page
    pageLoaded_ = true;
    if (pageMarkdown_ != lastMarkdown_)
        updateWebView();
}

void MarkdownPreviewWebView::receiveHeight(double height) {
    QPointer<MarkdownPreviewWebView> guard(this);
    QTimer::singleShot(0, this, [guard, height] {
        if (guard && guard->onHeightReport_)
            guard->onHeightReport_(height);
    });
}

void MarkdownPreviewWebView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createStandardContextMenu();
    if (menu == nullptr) // no request from the page behind this event
        menu = new QMenu(this);
    auto* explain = new QAction(
        QString::fromStdString(L10n::localized("L10n.Explainer.explainTerm", "Explain Term")), menu);
    connect(explain, &QAction::triggered, this, &MarkdownPreviewWebView::explainSelection);
    QAction* first = menu->actions().isEmpty() ? nullptr : menu->actions().first();
    menu->insertAction(first, explain);
    menu->insertSeparator(first);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void MarkdownPreviewWebView::explainSelection() {
    QPointer<MarkdownPreviewWebView> guard(this);
    page()->runJavaScript(QStringLiteral("window.getSelection().toString()"),
                          [guard](const QVariant& result) {
                              if (!guard)
                                  return;
                              if (!result.isValid()) {
                                  VelnoteLogger::app().error("getSelection JS 評価失敗: {}", "no result");
                                  return;
                              }
                              const std::string selection = result.toString().toStdString();
                              if (result.typeId() != QMetaType::QString || platform::isBlank(selection))
                                  return;
                              QTimer::singleShot(0, guard, [guard, selection] {
                                  if (guard && guard->onExplain_)
                                      guard->onExplain_(selection);
                              });
                          });
}

// Qt WebEngine draws into a child widget that receives the input events; wheel events are taken
// from every child as it is added.
bool MarkdownPreviewWebView::event(QEvent* event) {
    if (event->type() == QEvent::ChildPolished) {
        if (QObject* child = static_cast<QChildEvent*>(event)->child();
            child != nullptr && child->isWidgetType())
            child->installEventFilter(this);
    }
    return QWebEngineView::event(event);
}

bool MarkdownPreviewWebView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel && forwardsScrollEvents_) {
        if (QWidget* next = parentWidget())
            QApplication::sendEvent(next, event);
        return true;
    }
    // The page is not magnified: with Ctrl held the engine would zoom instead of scrolling.
    if (event->type() == QEvent::Wheel &&
        static_cast<QWheelEvent*>(event)->modifiers().testFlag(Qt::ControlModifier))
        return true;
    return QWebEngineView::eventFilter(watched, event);
}

} // namespace velnote

#include "MarkdownPreviewWebView.moc"
