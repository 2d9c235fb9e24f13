#include "ui/preview/markdown/core/SimpleMarkdownHTMLRenderer.h"

#include <gtest/gtest.h>
#include <string>

namespace velnote {
namespace {

struct Case {
    const char* name;
    std::string markdown;
    std::string html;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class BlockGrammar : public testing::TestWithParam<Case> {};

TEST_P(BlockGrammar, RendersExpectedFragment) {
    EXPECT_EQ(SimpleMarkdownHTMLRenderer::render(GetParam().markdown), GetParam().html);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, BlockGrammar,
    testing::Values(
        Case{"empty", "", ""}, Case{"blank lines only", "\n  \n\t\n", ""},
        Case{"heading", "# Title", "<h1>Title</h1>"},
        Case{"heading six levels", "###### Six", "<h6>Six</h6>"},
        Case{"seven hashes are text", "####### Seven", "<p>####### Seven</p>"},
        Case{"hash without space is text", "#Tag", "<p>#Tag</p>"},
        Case{"closing hashes stay", "## A ##", "<h2>A ##</h2>"},
        Case{"rules", "---\n* * *\n___", "<hr>\n<hr>\n<p>___</p>"},
        Case{"lines join one paragraph", "one\ntwo", "<p>one two</p>"},
        Case{"blank line splits paragraphs", "one\n\ntwo", "<p>one</p>\n<p>two</p>"},
        Case{"crlf", "one\r\ntwo\r\n", "<p>one two</p>"},
        Case{"bullets then numbered", "- a\n   * b\n1. c",
             "<ul><li>a</li><li>b</li></ul>\n<ol><li>c</li></ol>"},
        Case{"numbered list drops its start", "3. third", "<ol><li>third</li></ol>"},
        Case{"number without space or with parenthesis", "3.x\n3) y", "<p>3.x 3) y</p>"},
        Case{"other numeric characters count", "\xE2\x91\xA2. circled", "<ol><li>circled</li></ol>"},
        Case{"text line ends a list", "- a\nafter", "<ul><li>a</li></ul>\n<p>after</p>"},
        Case{"quote", "> said", "<blockquote><p>said</p></blockquote>"},
        Case{"double quote marker", ">> deeper", "<blockquote><p>&gt; deeper</p></blockquote>"},
        Case{"consecutive quotes", "> a\n> b",
             "<blockquote><p>a</p></blockquote>\n<blockquote><p>b</p></blockquote>"},
        Case{"heading needs no blank line", "text\n# H", "<p>text</p>\n<h1>H</h1>"},
        Case{"mermaid fence in capitals", "```MERMAID\ngraph TD\nA-->B\n```",
             "<div class=\"mermaid\">graph TD\nA--&gt;B</div>"},
        Case{"mermaid with a further word is code", "```mermaid x\nA\n```", "<pre><code>A</code></pre>"},
        Case{"code keeps raw lines", "```js\n  if (a < b) {  \n```",
             "<pre><code>  if (a &lt; b) {  </code></pre>"},
        Case{"unclosed fence runs to the end", "```\n  a\n# not heading",
             "<pre><code>  a\n# not heading</code></pre>"},
        Case{"empty fence leaves no trace", "```\n```\ntext", "<p>text</p>"},
        Case{"fence closes pending blocks", "para\n```\nx\n```", "<p>para</p>\n<pre><code>x</code></pre>"},
        Case{"table", "| A | B |\n|:--|--:|\n| 1 |",
             "<table><thead><tr><th>A</th><th>B</th></tr></thead><tbody><tr><td>1</td></tr></tbody></table>"},
        Case{"table without body", "| A |\n| --- |",
             "<table><thead><tr><th>A</th></tr></thead><tbody></tbody></table>"},
        Case{"single pipe line is text", "| a |", "<p>| a |</p>"},
        Case{"no separator row is text", "| a |\n| b |\nnext", "<p>| a | | b | next</p>"},
        Case{"pipe rows before a heading", "| a |\n# H", "<p>| a |</p>\n<h1>H</h1>"},
        Case{"paragraph before table rows", "intro\n| A |\n|---|",
             "<p>intro</p>\n<table><thead><tr><th>A</th></tr></thead><tbody></tbody></table>"},
        Case{"lone bar is a row", "|", "<p>|</p>"},
        Case{"raw html is escaped", "<b>x</b>", "<p>&lt;b&gt;x&lt;/b&gt;</p>"},
        Case{"script tag is escaped", "<script>alert('x')</script>",
             "<p>&lt;script&gt;alert('x')&lt;/script&gt;</p>"},
        Case{"nul and invalid utf-8 become replacement characters", std::string("a\0b\xFF", 4),
             "<p>a\xEF\xBF\xBD"
             "b\xEF\xBF\xBD</p>"}));

class InlineRules : public testing::TestWithParam<Case> {};

TEST_P(InlineRules, RendersExpectedInline) {
    EXPECT_EQ(SimpleMarkdownHTMLRenderer::renderInline(GetParam().markdown), GetParam().html);
}

INSTANTIATE_TEST_SUITE_P(
    Inline, InlineRules,
    testing::Values(
        Case{"bold and italic", "**b** and *i*", "<strong>b</strong> and <em>i</em>"},
        Case{"underscores are not emphasis", "_a_ __b__", "_a_ __b__"},
        Case{"single asterisks inside a bold run", "**a *b* c**", "*<em>a </em>b<em> c</em>*"},
        Case{"unmatched markers stay", "a * b ` c [d", "a * b ` c [d"},
        Case{"code span", "`x < y`", "<code>x &lt; y</code>"},
        Case{"emphasis inside code span", "`*a*`", "<code><em>a</em></code>"},
        Case{"link", "[site](https://x.test/?a=1&b=2)", "<a href=\"https://x.test/?a=1&amp;b=2\">site</a>"},
        Case{"link text may hold bold", "[**a**](u)", "<a href=\"u\"><strong>a</strong></a>"},
        Case{"link with empty text is text", "[](u)", "[](u)"},
        Case{"link target ends at first parenthesis", "[a](f(x))", "<a href=\"f(x\">a</a>)"},
        Case{"image", "![alt](pic.png)", "<img src=\"pic.png\" alt=\"alt\" style=\"max-width:100%;\">"},
        Case{"image with empty alt", "![](p)", "<img src=\"p\" alt=\"\" style=\"max-width:100%;\">"},
        Case{"data uri image kept intact", "![shot](data:image/jpeg;base64,/9j/4A**==)",
             "<img src=\"data:image/jpeg;base64,/9j/4A**==\" alt=\"shot\" style=\"max-width:100%;\">"},
        Case{"linked image", "[![i](p)](u)",
             "<a href=\"u\"><img src=\"p\" alt=\"i\" style=\"max-width:100%;\"></a>"},
        Case{"quotes escaped in attributes", "[a](x\"onmouseover=\"y)",
             "<a href=\"x&quot;onmouseover=&quot;y\">a</a>"},
        Case{"script scheme stays text", "[a](javascript:alert(1))", "[a](javascript:alert(1))"},
        Case{"script scheme with tab and capitals", "[a](Java\tScript:x)", "[a](Java\tScript:x)"},
        Case{"emphasis in link target left alone", "[a](http://x/*y*)", "<a href=\"http://x/*y*\">a</a>"}));

// A link pattern that reaches into an image's attributes must not move the image's quotation marks:
// otherwise "onerror" below would become an attribute of the img element.
TEST(SimpleMarkdownHTMLRenderer, GeneratedMarkupNeverEndsUpInsideAnAttribute) {
    const std::string html =
        SimpleMarkdownHTMLRenderer::renderInline("![x](data:a [y](z onerror=alert//) tail)");
    EXPECT_EQ(html, "<img src=\"data:a [y](z onerror=alert//\" alt=\"x\" style=\"max-width:100%;\"> tail)");
    const std::string plain = SimpleMarkdownHTMLRenderer::renderInline("![x](a [y](z onerror=alert//) tail)");
    EXPECT_EQ(plain, "<img src=\"a [y](z onerror=alert//\" alt=\"x\" style=\"max-width:100%;\"> tail)");
}

TEST(SimpleMarkdownHTMLRenderer, EscapeReplacesFourCharactersAmpersandFirst) {
    EXPECT_EQ(SimpleMarkdownHTMLRenderer::escapeHTML("&lt; <a href=\"x\">'"),
              "&amp;lt; &lt;a href=&quot;x&quot;&gt;'");
}

TEST(SimpleMarkdownHTMLRenderer, ParsesTableRowsKeepingEmptyCells) {
    using Cells = std::vector<std::string>;
    EXPECT_EQ(SimpleMarkdownHTMLRenderer::parseTableRow("| a || b\\|c |"), (Cells{"a", "", "b\\", "c"}));
    EXPECT_EQ(SimpleMarkdownHTMLRenderer::parseTableRow("||"), (Cells{""}));
    EXPECT_EQ(SimpleMarkdownHTMLRenderer::parseTableRow("|"), (Cells{""}));
}

// Runs of brackets, asterisks and fences must not make a long summary take quadratic time.
TEST(SimpleMarkdownHTMLRenderer, PathologicalRunsRenderInOnePass) {
    const std::size_t n = 200'000;
    const std::string brackets = std::string(n, '[') + "](x)";
    EXPECT_EQ(SimpleMarkdownHTMLRenderer::render(brackets),
              "<p><a href=\"x\">" + std::string(n - 1, '[') + "</a></p>");
    const std::string images = [&] {
        std::string s;
        for (std::size_t i = 0; i < n / 8; ++i)
            s += "![a](b ";
        return s;
    }();
    EXPECT_FALSE(SimpleMarkdownHTMLRenderer::render(images).empty());
    EXPECT_FALSE(SimpleMarkdownHTMLRenderer::render(std::string(n, '*') + "a").empty());
    EXPECT_FALSE(SimpleMarkdownHTMLRenderer::render(std::string(n, '>')).empty());
}

TEST(SimpleMarkdownHTMLRenderer, ReplacePatternReplacesEveryMatchFromItsGroups) {
    const std::string out = SimpleMarkdownHTMLRenderer::replacePattern(
        "(a)(x)?b", "ab-ab", [](const std::vector<std::string>& g) { return "[" + g[1] + g[2] + "]"; });
    EXPECT_EQ(out, "[a]-[a]");
    EXPECT_EQ(SimpleMarkdownHTMLRenderer::replacePattern("(", "text", [](const auto&) { return "x"; }),
              "text");
}

} // namespace
} // namespace velnote
