#include "platform/text/Regex.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>

namespace velnote::platform {
namespace {

using ::testing::HasSubstr;

std::optional<std::string> firstMatch(const Regex& regex, std::string_view input) {
    const auto match = regex.search(input);
    return match ? std::optional(match->whole().text) : std::nullopt;
}

TEST(RegexTest, HonoursOptions) {
    const RegexOptions none;
    const RegexOptions ignoreCase{.caseInsensitive = true};
    const struct {
        std::string pattern;
        RegexOptions options;
        std::string input;
        std::optional<std::string> match;
    } cases[] = {
        {"hello", ignoreCase, "say HELLO", "HELLO"},
        {"hello", none, "say HELLO", std::nullopt},
        {"ｈｅｌｌｏ", ignoreCase, "ＨＥＬＬＯ！", "ＨＥＬＬＯ"},
        {"hello", ignoreCase, "ＨＥＬＬＯ", std::nullopt}, // width is not folded
        {"^b$", none, "a\nb\nc", std::nullopt},
        {"^b$", {.multiline = true}, "a\nb\nc", "b"},
        {"a.b", none, "a\nb", std::nullopt},
        {"a.b", {.dotMatchesLineSeparators = true}, "a\nb", "a\nb"},
        {"\\s+", none, "会議\u3000メモ", "\u3000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(firstMatch(Regex(c.pattern, c.options), c.input), c.match)
            << c.pattern << " on " << c.input;
    }
}

TEST(RegexTest, CountsCodePointsNotBytes) {
    const Regex bracketNoise("^\\s*[\\[\\(][^\\]\\)]{1,60}[\\]\\)]\\s*$", {.caseInsensitive = true});
    std::string sixty;
    for (int i = 0; i < 60; ++i) {
        sixty += "あ";
    }
    EXPECT_TRUE(bracketNoise.matches(" [音楽] "));
    EXPECT_TRUE(bracketNoise.matches("[" + sixty + "]"));
    EXPECT_FALSE(bracketNoise.matches("[" + sixty + "あ]"));
    EXPECT_TRUE(Regex("^.$").matches("\U0001F600")); // one code point, two UTF-16 units
}

TEST(RegexTest, ReportsGroupsAsUtf8ByteRanges) {
    // An emoji (a surrogate pair in UTF-16) and an invalid byte shift UTF-16
    // offsets away from byte offsets.
    const std::string input = "\U0001F600\xFF"
                              "ab";
    const auto match = Regex("(a)(x)?b").search(input);
    ASSERT_TRUE(match);
    ASSERT_EQ(match->groups.size(), 3u);
    EXPECT_EQ(match->whole().begin, 5u);
    EXPECT_EQ(match->whole().end, 7u);
    EXPECT_EQ(match->whole().text, "ab");
    ASSERT_TRUE(match->groups[1]);
    EXPECT_EQ(match->groups[1]->begin, 5u);
    EXPECT_EQ(match->groups[1]->text, "a");
    EXPECT_FALSE(match->groups[2]); // took no part
}

TEST(RegexTest, FindsEveryMatch) {
    const std::string input = "会議は30分、休憩は5分";
    const auto found = Regex("(\\d+)分").findAll(input);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].groups[1]->text, "30");
    EXPECT_EQ(found[1].groups[1]->text, "5");
    EXPECT_EQ(input.substr(found[1].whole().begin), "5分");

    const auto empty = Regex("x*").findAll("日本");
    ASSERT_EQ(empty.size(), 3u); // empty matches at 0, 3 and 6 bytes
    EXPECT_EQ(empty[2].whole().begin, 6u);
    EXPECT_TRUE(Regex("z").findAll("abc").empty());
}

TEST(RegexTest, ReplacesWithTemplate) {
    const struct {
        std::string pattern;
        std::string input;
        std::string replacement;
        std::string output;
    } cases[] = {
        {"(\\w+)@(\\w+)", "me@host", "$2 at $1", "host at me"},
        {"(\\d+)分", "30分と5分", "$1 min", "30 minと5 min"},
        {"\\s{2,}", "a   b\u3000\u3000c", " ", "a b c"},
        {"a", "cat", "\\$1", "c$1t"},
        {"(a)", "cat", "$12", "ca2t"}, // only one group: "$1" then "2"
        {"https?://\\S+", "見て https://example.com/x", "", "見て "},
        {"z", "abc", "$0$0", "abc"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Regex(c.pattern).replaceAll(c.input, c.replacement), c.output) << c.pattern;
    }
}

TEST(RegexTest, RejectsTemplateWithMissingGroup) {
    EXPECT_THROW(Regex("(a)").replaceAll("cat", "$2"), RegexError);
    EXPECT_THROW(Regex("a").replaceAll("cat", "$x"), RegexError);
}

TEST(RegexTest, BadPatternThrowsWithIcuMessage) {
    try {
        Regex("(会議");
        FAIL() << "no RegexError";
    } catch (const RegexError& error) {
        EXPECT_THAT(error.what(), HasSubstr("U_REGEX_MISMATCHED_PAREN"));
        EXPECT_THAT(error.what(), HasSubstr("(会議"));
    }
    EXPECT_THROW(Regex("[a"), RegexError);
    EXPECT_THROW(Regex("a{2,1}"), RegexError);
}

TEST(RegexTest, EscapedPatternMatchesOnlyTheLiteral) {
    EXPECT_EQ(Regex::escapedPattern("a.b*c"), "a\\.b\\*c");
    const Regex escaped(Regex::escapedPattern("a.b*c"));
    EXPECT_TRUE(escaped.matches("a.b*c"));
    EXPECT_FALSE(escaped.matches("aXbbc"));

    for (const std::string literal : {"\\^$.|?*+()[]{}", "[音楽](笑)", "\\Q\\E$1"}) {
        EXPECT_TRUE(Regex(Regex::escapedPattern(literal)).matches(literal)) << literal;
    }
}

TEST(RegexTest, OnePatternServesSeveralThreads) {
    const Regex regex("(\\d+)分", {.caseInsensitive = true});
    const std::string input = "会議は30分、休憩は5分、移動は15分";
    std::vector<std::thread> threads;
    std::vector<int> correct(4, 0);
    for (std::size_t t = 0; t < correct.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                const auto found = regex.findAll(input);
                correct[t] += found.size() == 3 && found[2].groups[1]->text == "15";
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(correct, std::vector<int>(4, 50));
}

} // namespace
} // namespace velnote::platform
