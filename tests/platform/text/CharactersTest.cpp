#include "platform/text/Characters.h"

#include <gtest/gtest.h>

namespace velnote::platform {
namespace {

const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
const std::string decomposedGaGi = "か\u3099き\u3099";

TEST(CharactersTest, CountsGraphemeClusters) {
    const struct {
        std::string text;
        std::size_t count;
    } cases[] = {
        {"", 0},       {"abc", 3},          {"こんにちは", 5},
        {family, 1},   {decomposedGaGi, 2}, {"\U0001F1EF\U0001F1F5", 1}, // flag: two regional indicators
        {"a\r\nb", 3}, {"\xFF\xFE", 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(characterCount(c.text), c.count) << c.text;
    }
}

TEST(CharactersTest, PrefixKeepsWholeClusters) {
    const struct {
        std::string text;
        std::size_t count;
        std::string prefix;
    } cases[] = {
        {"こんにちは", 2, "こん"},
        {family + "x", 1, family},
        {decomposedGaGi, 1, "か\u3099"},
        {"abc", 0, ""},
        {"abc", 10, "abc"},
        {"", 3, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(prefixCharacters(c.text, c.count), c.prefix) << c.text << " " << c.count;
    }
}

TEST(CharactersTest, ValidatesUtf8) {
    const struct {
        std::string text;
        bool valid;
    } cases[] = {
        {"", true},
        {"こんにちは" + family, true},
        {std::string("a\0b", 3), true},
        {"\x80", false},             // stray continuation byte
        {"\xE3\x81", false},         // truncated
        {"\xC0\xAF", false},         // overlong "/"
        {"\xED\xA0\x80", false},     // surrogate
        {"\xF4\x90\x80\x80", false}, // above U+10FFFF
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isValidUtf8(c.text), c.valid) << c.text;
    }
}

TEST(CharactersTest, ReplacesEachInvalidSequenceByOneReplacementCharacter) {
    const std::string fffd = "\uFFFD";
    EXPECT_EQ(replacingInvalidUtf8("こんにちは" + family), "こんにちは" + family);
    EXPECT_EQ(replacingInvalidUtf8("a\xE3\x81"), "a" + fffd); // unfinished character at the end
    EXPECT_EQ(replacingInvalidUtf8("\xE3\x81"
                                   "a"),
              fffd + "a");                                           // cut short inside the text
    EXPECT_EQ(replacingInvalidUtf8("\x80\x80"), fffd + fffd);        // two stray bytes
    EXPECT_EQ(replacingInvalidUtf8("\xC0\xAF!"), fffd + fffd + "!"); // overlong: neither byte can start one
    EXPECT_EQ(replacingInvalidUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(CharactersTest, DropsOnlyACharacterCutOffAtTheEnd) {
    const struct {
        std::string text;
        std::string kept;
    } cases[] = {
        {"決定\xE4\xBA", "決定"},                 // two of three bytes
        {"ok\xF0\x9F\x98", "ok"},                 // three of four
        {"\xE3", ""},                             // a lead byte alone
        {"決定", "決定"},                         // whole characters stay
        {"a\x80", "a\x80"},                       // a stray byte is not a cut character
        {"\xE3\x81\x82\x80", "\xE3\x81\x82\x80"}, // one continuation too many: left to the caller
    };
    for (const auto& c : cases)
        EXPECT_EQ(withoutUnfinishedCharacter(c.text), c.kept) << c.text;
}

TEST(CharactersTest, SplitGivesWholeClustersInOrder) {
    const std::vector<std::string_view> expected = {"a", family, "か\u3099", "\r\n", "\xFF"};
    const std::string text = "a" + family + "か\u3099\r\n\xFF";
    EXPECT_EQ(splitCharacters(text), expected);
    EXPECT_TRUE(splitCharacters("").empty());
}

TEST(CharactersTest, ReplacesAllButLettersMarksNumbersAndTheKeptOnes) {
    EXPECT_EQ(replacingNonAlphanumerics("a::b c-d/é٣ア\u3099", "- ", "_"), "a__b c-d_é٣ア\u3099");
    EXPECT_EQ(replacingNonAlphanumerics("x\xFFy.", "", "_"), "x_y_");
    EXPECT_EQ(replacingNonAlphanumerics("", "", "_"), "");
}

} // namespace
} // namespace velnote::platform
