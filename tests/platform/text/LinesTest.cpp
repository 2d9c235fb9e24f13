#include "platform/text/Lines.h"

#include <gtest/gtest.h>

namespace velnote::platform {
namespace {

TEST(LinesTest, SplitsOnEveryKindOfLineBreak) {
    const struct {
        std::string text;
        std::vector<std::string> lines;
    } cases[] = {
        {"", {}},
        {"一行", {"一行"}},
        {"a\nb\r\nc\rd", {"a", "b", "c", "d"}},
        {"a\n", {"a"}},
        {"a\n\n", {"a", ""}},
        {"\n\r", {"", ""}}, // LF then CR: two breaks, not one
        {"\r\n\r\nx", {"", "", "x"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(splitLines(c.text), c.lines) << c.text;
    }
}

} // namespace
} // namespace velnote::platform
