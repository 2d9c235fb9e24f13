#include "platform/text/Whitespace.h"

#include <gtest/gtest.h>

namespace velnote::platform {
namespace {

struct TrimCase {
    std::string input;
    std::string trimmed;
};

TEST(WhitespaceTest, TrimsUnicodeWhiteSpaceAndNewlinesAtBothEndsOnly) {
    const TrimCase cases[] = {
        {"\u3000 こんにちは\n", "こんにちは"},
        {"\t\r\n 会議 メモ \u00A0", "会議 メモ"},
        {"\u2028\u2029\u0085\v\f x", "x"},
        {"\u200Bx\uFEFF", "\u200Bx\uFEFF"}, // zero-width space and BOM are not white space
        {"", ""},
        {" \u3000\n", ""},
        {" \xFF \xE3\x81 ", "\xFF \xE3\x81"}, // invalid bytes stay, even a truncated sequence at the end
    };
    for (const auto& c : cases) {
        EXPECT_EQ(trimWhitespace(c.input), c.trimmed) << c.input;
    }
}

TEST(WhitespaceTest, SplitsAtRunsOfUnicodeWhiteSpace) {
    using Pieces = std::vector<std::string>;
    EXPECT_EQ(splitOnWhitespace("a  b\tc"), (Pieces{"a", "b", "c"}));
    EXPECT_EQ(splitOnWhitespace("\u3000-p\n{prompt}\u00A0\"x y\" \\ "),
              (Pieces{"-p", "{prompt}", "\"x", "y\"", "\\"}));
    EXPECT_EQ(splitOnWhitespace(" \xFF\xE3 z"), (Pieces{"\xFF\xE3", "z"}));
    EXPECT_TRUE(splitOnWhitespace("").empty());
    EXPECT_TRUE(splitOnWhitespace(" \u2028\t").empty());
}

TEST(WhitespaceTest, BlankMeansNothingLeftAfterTrimming) {
    EXPECT_TRUE(isBlank(""));
    EXPECT_TRUE(isBlank(" \t\u3000\r\n\u00A0"));
    EXPECT_FALSE(isBlank(" あ "));
    EXPECT_FALSE(isBlank("\u200B"));
    EXPECT_FALSE(isBlank(" \xFF"));
}

TEST(WhitespaceTest, SpacesAndTabsTrimLeavesLineBreaks) {
    EXPECT_EQ(trimSpacesAndTabs("\t \u3000a b\u00A0 \t"), "a b");
    EXPECT_EQ(trimSpacesAndTabs("\n a \n"), "\n a \n");
    EXPECT_EQ(trimSpacesAndTabs(""), "");
    EXPECT_EQ(leadingWhitespaceLength(" \n\u3000x "), 5u);
    EXPECT_EQ(leadingWhitespaceLength("x "), 0u);
    EXPECT_EQ(leadingWhitespaceLength(" \t"), 2u);
}

} // namespace
} // namespace velnote::platform
