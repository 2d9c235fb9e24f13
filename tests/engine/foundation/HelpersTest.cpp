#include "engine/foundation/Helpers.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sstream>

namespace basalith {
namespace {

TEST(HelpersTest, RoundsHalvesAwayFromZero) {
    EXPECT_FLOAT_EQ(rounded(2.25f, 1), 2.3f);
    EXPECT_FLOAT_EQ(rounded(-2.25f, 1), -2.3f);
    EXPECT_FLOAT_EQ(rounded(2.5f, 0), 3.0f);
    EXPECT_FLOAT_EQ(rounded(1234.0f, -2), 1200.0f);
}

TEST(HelpersTest, RoundingBeyondTheFloatRangeKeepsANumber) {
    EXPECT_FLOAT_EQ(rounded(2.25f, 40), 2.25f);    // 10^40 is no float
    EXPECT_FLOAT_EQ(rounded(3.0e38f, 1), 3.0e38f); // the scaled value overflows
    EXPECT_FLOAT_EQ(rounded(1234.0f, -50), 0.0f);  // 10^-50 is 0 as a float
    EXPECT_FLOAT_EQ(rounded(-2.25f, 1000), -2.25f);
}

TEST(HelpersTest, ResolvesAbsolutePaths) {
    velnote::testing::ScopedEnv home("HOME", "/home/tester");
    velnote::testing::TempDir cwd;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(cwd.path());
    EXPECT_EQ(resolveAbsolutePath("~/Models"), "/home/tester/Models");
    EXPECT_EQ(resolveAbsolutePath("~"), "/home/tester");
    EXPECT_EQ(resolveAbsolutePath("models/x"), (cwd.path() / "models/x").string());
    EXPECT_EQ(resolveAbsolutePath("/a/b"), "/a/b");
    EXPECT_EQ(resolveAbsolutePath("~no-such-user-here/x"), (cwd.path() / "~no-such-user-here/x").string());
    std::filesystem::current_path(previous);
}

TEST(HelpersTest, GlobMatchingCrossesFolders) {
    struct Case {
        const char* pattern;
        const char* text;
        bool matches;
    };
    const Case cases[] = {
        {"*tiny*", "openai_whisper-tiny/a", true},
        {"*tiny*", "openai_whisper-base/b", false},
        {"seg/*", "seg/v3/W8A16/Seg.gguf", true},
        {"seg/*/W8A16/*", "seg/v3/W8A16/meta/config.json", true},
        {"*", ".hidden", true},
        {"a?c", "abc", true},
        {"[ab]x", "cx", false},
        {"\\*x", "*x", true},
        {"\\*x", "ax", false},
        {"seg/*", "segment/x", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(globMatches(c.pattern, c.text), c.matches) << c.pattern << " " << c.text;
    EXPECT_EQ(matchingGlob({"openai_whisper-tiny/a", "openai_whisper-base/b", "x-tiny"}, "*tiny*"),
              (std::vector<std::string>{"openai_whisper-tiny/a", "x-tiny"}));
}

TEST(HelpersTest, BatchesAndOrderedSets) {
    const std::vector<int> five{1, 2, 3, 4, 5};
    EXPECT_EQ(batched(five, 2), (std::vector<std::vector<int>>{{1, 2}, {3, 4}, {5}}));
    EXPECT_EQ(batched(five, 10), (std::vector<std::vector<int>>{five}));
    EXPECT_TRUE(batched(std::vector<int>{}, 3).empty());
    EXPECT_TRUE(batched(five, -1).empty());
    EXPECT_EQ(orderedSet(std::vector<int>{3, 1, 3, 2, 1}), (std::vector<int>{3, 1, 2}));
}

TEST(HelpersTest, TrimsARepeatedCharacterFromTheEnd) {
    EXPECT_EQ(trimmingFromEnd("1.000", '0', 2), "1.0");
    EXPECT_EQ(trimmingFromEnd("1.000", '0', 5), "1.");
    EXPECT_EQ(trimmingFromEnd("1.000", '0', 0), "1.000");
    EXPECT_EQ(trimmingFromEnd("000", '0', 9), "");
}

TEST(HelpersTest, LastNaturalBoundary) {
    auto words = [](const std::string& text) {
        std::istringstream in(text);
        std::vector<int> tokens;
        for (std::string word; in >> word;)
            tokens.push_back(0);
        return tokens;
    };
    const std::string text = "Hello there. How are";
    EXPECT_EQ(lastNaturalBoundary(text, 2, words), "Hello there.");
    EXPECT_EQ(lastNaturalBoundary(text, 3, words), "Hello there. How");
    EXPECT_EQ(lastNaturalBoundary(text, 5, words), std::nullopt);
    EXPECT_EQ(lastNaturalBoundary("one, two three \u2013 four five", 4, words), "one, two three \u2013");
    EXPECT_EQ(lastNaturalBoundary("", 0, words), std::nullopt);
}

} // namespace
} // namespace basalith
