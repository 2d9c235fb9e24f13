#include "ui/preview/markdown/core/InlinePattern.h"

#include "platform/text/Regex.h"

#include <gtest/gtest.h>
#include <random>
#include <string>

namespace velnote {
namespace {

struct Reference {
    const char* regex;
    InlinePattern pattern;
};

// The renderer's regular expressions and their hand-written matchers.
const Reference kReferences[] = {
    {R"(!\[([^\]]*)\]\((data:[^\)]+)\))",
     {.open = "![",
      .stop = ']',
      .minFirstLength = 0,
      .middle = "](",
      .secondPrefix = "data:",
      .secondStop = ')',
      .close = ")"}},
    {R"(!\[([^\]]*)\]\(([^\)]+)\))",
     {.open = "![",
      .stop = ']',
      .minFirstLength = 0,
      .middle = "](",
      .secondPrefix = "",
      .secondStop = ')',
      .close = ")"}},
    {R"(\[([^\]]+)\]\(([^\)]+)\))",
     {.open = "[",
      .stop = ']',
      .minFirstLength = 1,
      .middle = "](",
      .secondPrefix = "",
      .secondStop = ')',
      .close = ")"}},
    {"`([^`]+)`", {.open = "`", .stop = '`', .minFirstLength = 1, .close = "`"}},
    {R"(\*\*([^*]+)\*\*)", {.open = "**", .stop = '*', .minFirstLength = 1, .close = "**"}},
    {R"(\*([^*]+)\*)", {.open = "*", .stop = '*', .minFirstLength = 1, .close = "*"}},
};

// The matchers find exactly what the regular expressions find, on random texts over the
// characters that matter to them.
TEST(InlinePattern, FindsTheSameMatchesAsTheRegularExpressions) {
    const std::string alphabet = "[]()!*`data: x";
    std::mt19937 random(20251211);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<std::size_t> length(0, 40);
    for (const Reference& reference : kReferences) {
        const platform::Regex regex(reference.regex);
        for (int round = 0; round < 3000; ++round) {
            std::string text;
            for (std::size_t i = length(random); i > 0; --i)
                text.push_back(alphabet[pick(random)]);
            const auto expected = regex.findAll(text);
            const auto actual = findAllInline(reference.pattern, text);
            ASSERT_EQ(actual.size(), expected.size()) << reference.regex << " on " << text;
            for (std::size_t i = 0; i < actual.size(); ++i) {
                EXPECT_EQ(actual[i].begin, expected[i].whole().begin) << reference.regex << " on " << text;
                EXPECT_EQ(actual[i].end, expected[i].whole().end) << reference.regex << " on " << text;
                EXPECT_EQ(actual[i].first, expected[i].groups[1]->text) << reference.regex << " on " << text;
                if (expected[i].groups.size() > 2) {
                    EXPECT_EQ(actual[i].second, expected[i].groups[2]->text)
                        << reference.regex << " on " << text;
                }
            }
        }
    }
}

TEST(InlinePattern, RefusedCandidateLetsTheSearchGoOnOneCharacterLater) {
    const InlinePattern italic{.open = "*", .stop = '*', .minFirstLength = 1, .close = "*"};
    const auto matches = findAllInline(italic, "*a*b*", [](const InlineMatch& m) { return m.first != "a"; });
    ASSERT_EQ(matches.size(), 1u);
    EXPECT_EQ(matches[0].first, "b");
}

} // namespace
} // namespace velnote
