#include "summary/text/SummaryParser.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using SummaryParser::buildMarkdown;
using SummaryParser::parse;

const char* const validObject = R"({"title": "Budget", "sections": [
  {"heading": "Decisions", "format": "list", "content": "- {Q3} approved"}]})";

StructuredSummaryResponse fallback(std::string content) {
    return {.title = "", .sections = {{.heading = "", .format = "markdown", .content = std::move(content)}}};
}

TEST(SummaryParserTest, FindsTheObjectOrFallsBackToTheWholeText) {
    const StructuredSummaryResponse budget{
        .title = "Budget",
        .sections = {{.heading = "Decisions", .format = "list", .content = "- {Q3} approved"}}};
    const std::string fenced = std::string("Here it is:\n```json\n") + validObject + "\n```\nThanks!";
    const std::string secondFence = R"({"title": "Second", "sections": []})";
    const struct {
        std::string text;
        StructuredSummaryResponse expected;
    } cases[] = {
        {fenced, budget},
        {std::string("  \n") + validObject + "\n\t", budget},
        // An upper-case tag misses the fence but the brace rule still finds the object.
        {std::string("Answer:\n```JSON\n") + validObject + "\n```", budget},
        {std::string("```json\n") + validObject + "\n```\n```json\n" + secondFence + "\n```", budget},
        // A fenced object that does not decode falls back at once, without the brace rule.
        {std::string("```json\n{\"title\": 1}\n```\n") + validObject,
         fallback(std::string("```json\n{\"title\": 1}\n```\n") + validObject)},
        {R"({"sections": []})", fallback(R"({"sections": []})")},
        {"Just prose, no JSON.", fallback("Just prose, no JSON.")},
        {"} backwards {", fallback("} backwards {")},
        {R"({"title": 1e999, "sections": []})", fallback(R"({"title": 1e999, "sections": []})")},
        {"", fallback("")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parse(c.text), c.expected) << c.text;
}

TEST(SummaryParserTest, SurvivesHostileAnswers) {
    // Deep nesting and many unclosed fences give the fallback, without recursion or quadratic scans.
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    EXPECT_EQ(parse(deep).sections.front().content, deep);
    std::string fences;
    for (int i = 0; i < 50000; ++i)
        fences += "```{ } x";
    EXPECT_EQ(parse(fences).title, "");
    std::string withNul = "{\"title\":\"a";
    withNul += '\0';
    withNul += "b\",\"sections\":[]}";
    EXPECT_EQ(parse(withNul).sections.front().content, withNul);
}

TEST(SummaryParserTest, RendersMarkdown) {
    EXPECT_EQ(buildMarkdown(parse("")), "\n");
    EXPECT_EQ(buildMarkdown(parse("  some *markdown*\n\n")), "some *markdown*\n");
    const StructuredSummaryResponse response{
        .title = "  Title \n",
        .sections = {{.heading = "A", .format = "list", .content = "x"},
                     {.heading = "", .format = "", .content = ""},
                     {.heading = "B", .format = "mermaid", .content = "\n y\n\n z \n"}}};
    EXPECT_EQ(buildMarkdown(response), "# Title\n\n## A\nx\n\n\n## B\ny\n\n z\n");
    const StructuredSummaryResponse untitled{
        .title = "",
        .sections = {{.heading = "", .format = "markdown", .content = "one"},
                     {.heading = " ", .format = "markdown", .content = "two"}}};
    EXPECT_EQ(buildMarkdown(untitled), "one\n\ntwo\n");
}

} // namespace
} // namespace velnote
