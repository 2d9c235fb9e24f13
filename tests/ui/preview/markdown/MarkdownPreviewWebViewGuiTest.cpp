#include "ui/preview/markdown/MarkdownPreviewWebView.h"
#include "ui/shell/support/QtTestApp.h"

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollArea>
#include <QWebEnginePage>
#include <QWheelEvent>
#include <gtest/gtest.h>
#include <optional>

namespace velnote {
namespace {

using std::chrono::seconds;

// The result of a script in the view's page, waited for.
QVariant evaluate(MarkdownPreviewWebView& view, const QString& script) {
    std::optional<QVariant> result;
    view.page()->runJavaScript(script, [&](const QVariant& value) { result = value; });
    testing::processEventsUntil([&] { return result.has_value(); }, seconds(20));
    return result.value_or(QVariant());
}

QString containerHTML(MarkdownPreviewWebView& view) {
    return evaluate(view, "document.getElementById('markdown-container').innerHTML.trim()").toString();
}

bool waitForLoad(MarkdownPreviewWebView& view) {
    return testing::processEventsUntil([&] { return view.isPageLoaded(); }, seconds(30));
}

// Pixels of the node fill of the default diagram theme.
int diagramNodePixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y) == QColor(0xEC, 0xEC, 0xFF) ? 1 : 0;
    return count;
}

class MarkdownPreviewWebViewGuiTest : public ::testing::Test {
  protected:
    void SetUp() override { testing::qtTestApp(); }

    // A shown view, as the page only draws while shown.
    std::unique_ptr<MarkdownPreviewWebView> shownView(const std::string& markdown,
                                                      MarkdownPreviewWebView::Feature feature = {}) {
        auto view = std::make_unique<MarkdownPreviewWebView>(markdown, feature);
        view->resize(800, 600);
        view->show();
        return view;
    }
};

TEST_F(MarkdownPreviewWebViewGuiTest, DrawsDiagramsFromTheBundledLibrary) {
    auto view = shownView("# Plan\n\n```mermaid\ngraph TD; A-->B; B-->C\n```\n");
    ASSERT_TRUE(waitForLoad(*view));
    ASSERT_TRUE(testing::processEventsUntil(
        [&] { return evaluate(*view, "document.querySelectorAll('.mermaid svg').length").toInt() == 1; },
        seconds(30)));
    EXPECT_EQ(evaluate(*view, "document.querySelector('h1').textContent").toString(), "Plan");
    ASSERT_TRUE(testing::processEventsUntil([&] { return diagramNodePixels(view->grab().toImage()) > 1000; },
                                            seconds(10)));
}

TEST_F(MarkdownPreviewWebViewGuiTest, LaterTextsReplaceTheContentWithoutReloading) {
    auto view = shownView("");
    ASSERT_TRUE(waitForLoad(*view));
    EXPECT_EQ(containerHTML(*view), "");
    evaluate(*view, "window.samePage = true");

    view->setMarkdown("## Next\n\n- a\n- b");
    ASSERT_TRUE(testing::processEventsUntil(
        [&] { return containerHTML(*view) == "<h2>Next</h2>\n<ul><li>a</li><li>b</li></ul>"; }, seconds(10)));
    EXPECT_TRUE(evaluate(*view, "window.samePage === true").toBool());
    EXPECT_EQ(view->lastMarkdown(), "## Next\n\n- a\n- b");
}

// A text that arrives while the first page is still loading is shown once it has loaded.
TEST_F(MarkdownPreviewWebViewGuiTest, TextSetWhileTheFirstPageLoadsIsNotLost) {
    auto view = shownView("first");
    view->setMarkdown("second");
    ASSERT_TRUE(waitForLoad(*view));
    EXPECT_TRUE(
        testing::processEventsUntil([&] { return containerHTML(*view) == "<p>second</p>"; }, seconds(10)));
}

TEST_F(MarkdownPreviewWebViewGuiTest, MarkupInTheTextNeverRuns) {
    auto view =
        shownView("<script>window.pwned = 1</script>\n\n<img src=x onerror=\"window.pwned = 2\">\n\n"
                  "[click](javascript:window.pwned=3)\n\n![x](data:a [y](z onerror=window.pwned=4//) t)");
    ASSERT_TRUE(waitForLoad(*view));
    evaluate(*view, "var a = document.querySelector('a'); if (a) a.click();");
    testing::processEventsUntil([] { return false; }, std::chrono::milliseconds(500));
    EXPECT_TRUE(evaluate(*view, "typeof window.pwned === 'undefined'").toBool());
    EXPECT_EQ(
        evaluate(*view, "document.querySelectorAll('#markdown-container script, [onerror]').length").toInt(),
        0);
}

TEST_F(MarkdownPreviewWebViewGuiTest, ReportsTheContentHeightAndLeavesScrollingToTheParent) {
    QScrollArea area;
    auto* view = new MarkdownPreviewWebView(std::string(40, 'x') + "\n\n# a\n\n# b\n\n# c",
                                            MarkdownPreviewWebView::Feature::reportsHeight);
    std::vector<double> heights;
    view->setOnHeightReport([&](double h) { heights.push_back(h); });
    area.setWidget(view);
    view->resize(600, 400);
    area.show();
    EXPECT_TRUE(view->forwardsScrollEvents());
    ASSERT_TRUE(
        testing::processEventsUntil([&] { return !heights.empty() && heights.back() > 100; }, seconds(30)));

    const double before = heights.back();
    view->setMarkdown(std::string(40, 'x') + "\n\n# a\n\n# b\n\n# c\n\n# d\n\n# e");
    EXPECT_TRUE(testing::processEventsUntil([&] { return heights.back() > before; }, seconds(10)));
}

// Ctrl and the wheel used to zoom the page, text and diagrams, apart from the rest of the window.
TEST_F(MarkdownPreviewWebViewGuiTest, CtrlWheelDoesNotZoomThePage) {
    auto view = shownView("# Title\n\ntext");
    ASSERT_TRUE(waitForLoad(*view));
    QWidget* target = view->focusProxy();
    ASSERT_NE(target, nullptr);
    const QPointF at(100, 100);
    for (int i = 0; i < 3; ++i) {
        QWheelEvent wheel(at, target->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &wheel);
    }
    testing::processEventsUntil([] { return false; }, std::chrono::milliseconds(800));
    EXPECT_DOUBLE_EQ(view->zoomFactor(), 1.0);
    EXPECT_DOUBLE_EQ(evaluate(*view, "window.devicePixelRatio").toDouble(), 1.0);
}

TEST_F(MarkdownPreviewWebViewGuiTest, WithoutHeightFeatureThePageScrollsItself) {
    auto view = shownView("x");
    EXPECT_FALSE(view->forwardsScrollEvents());
    ASSERT_TRUE(waitForLoad(*view));
    EXPECT_TRUE(evaluate(*view, "typeof QWebChannel === 'undefined'").toBool());
}

TEST_F(MarkdownPreviewWebViewGuiTest, ExplainTermHandsOverTheSelectionAsItIs) {
    auto view = shownView("  spaced words  \n\nother");
    ASSERT_TRUE(waitForLoad(*view));
    std::vector<std::string> explained;
    view->setOnExplain([&](const std::string& s) { explained.push_back(s); });

    evaluate(*view, "window.getSelection().removeAllRanges()");
    view->explainSelection();
    testing::processEventsUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_TRUE(explained.empty()); // a blank selection does nothing

    evaluate(*view, "var r = document.createRange(); r.selectNodeContents(document.querySelector('p'));"
                    "window.getSelection().removeAllRanges(); window.getSelection().addRange(r);");
    view->explainSelection();
    ASSERT_TRUE(testing::processEventsUntil([&] { return !explained.empty(); }, seconds(10)));
    EXPECT_EQ(explained.front(), "spaced words");
}

TEST_F(MarkdownPreviewWebViewGuiTest, ContextMenuStartsWithExplainTerm) {
    auto view = shownView("word");
    ASSERT_TRUE(waitForLoad(*view));
    // A right click on the widget the page draws into, as the user makes it.
    QWidget* surface = view->focusProxy();
    ASSERT_NE(surface, nullptr);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent click(type, QPointF(20, 20), surface->mapToGlobal(QPointF(20, 20)), Qt::RightButton,
                          type == QEvent::MouseButtonPress ? Qt::RightButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(surface, &click);
    }
    QMenu* menu = nullptr;
    testing::processEventsUntil(
        [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* m = qobject_cast<QMenu*>(w); m != nullptr && m->isVisible())
                    menu = m;
            return menu != nullptr;
        },
        seconds(10));
    ASSERT_NE(menu, nullptr);
    ASSERT_GE(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->text(), "Explain Term");
    EXPECT_TRUE(menu->actions()[1]->isSeparator());
    menu->close();
}

} // namespace
} // namespace velnote
