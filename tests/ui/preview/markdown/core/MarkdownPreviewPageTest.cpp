#include "ui/preview/markdown/core/MarkdownPreviewPage.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

TEST(MarkdownPreviewPage, WrapsTheFragmentInTheContainerAfterTheDiagramScripts) {
    const std::string page = MarkdownPreviewPage::page(
        "<h1>T</h1>", {.mermaidScriptElement = MarkdownPreviewPage::bundledMermaidScriptElement()});
    EXPECT_TRUE(page.starts_with("<!doctype html>\n<html>\n<head>\n<meta charset=\"utf-8\">"));
    EXPECT_TRUE(page.ends_with("<div id=\"markdown-container\">\n<h1>T</h1>\n</div>\n</body>\n</html>"));
    const auto library = page.find("<script src=\"/mermaid.min.js\"></script>");
    const auto theme =
        page.find("mermaid.initialize({ startOnLoad: true, theme: dark ? 'dark' : 'default' });");
    ASSERT_NE(library, std::string::npos);
    ASSERT_NE(theme, std::string::npos);
    EXPECT_LT(library, theme);
    EXPECT_NE(page.find("--bg: #0b1120;"), std::string::npos);
    EXPECT_EQ(page.find("heightReport"), std::string::npos);
}

TEST(MarkdownPreviewPage, HeightScriptOnlyWhenAsked) {
    const std::string page =
        MarkdownPreviewPage::page("", {.mermaidScriptElement = "", .reportsHeight = true});
    EXPECT_NE(page.find("channel.objects.heightReport"), std::string::npos);
    EXPECT_NE(page.find("document.body.scrollHeight"), std::string::npos);
    EXPECT_NE(page.find("<div id=\"markdown-container\">\n\n</div>"), std::string::npos);
}

TEST(MarkdownPreviewPage, UpdateScriptCarriesTheFragmentAsOneJsonString) {
    const auto script = MarkdownPreviewPage::updateScript("<p>a \"b\"\n</p>");
    ASSERT_TRUE(script);
    EXPECT_EQ(*script,
              "if (document.getElementById('markdown-container')) {\n"
              "    document.getElementById('markdown-container').innerHTML = \"<p>a \\\"b\\\"\\n</p>\";\n"
              "    if (typeof mermaid !== 'undefined') {\n"
              "        mermaid.run({ querySelector: '.mermaid' });\n"
              "    }\n"
              "}");
    EXPECT_FALSE(MarkdownPreviewPage::updateScript("\xFF"));
}

} // namespace
} // namespace velnote
