#include "platform/text/Split.h"

#include "platform/text/Base64.h"

#include <gtest/gtest.h>

namespace velnote::platform {
namespace {

TEST(SplitTest, KeepsEmptyPiecesAndJoinsBack) {
    using Pieces = std::vector<std::string>;
    EXPECT_EQ(splitOn("a\n\nb", "\n"), (Pieces{"a", "", "b"}));
    EXPECT_EQ(splitOn("", "\n"), (Pieces{""}));
    EXPECT_EQ(splitOn("\n", "\n"), (Pieces{"", ""}));
    EXPECT_EQ(splitOn("x\n\ny\n\n\nz", "\n\n"), (Pieces{"x", "y", "\nz"}));
    EXPECT_EQ(splitOn("abc", ""), (Pieces{"abc"}));
    EXPECT_EQ(joined(splitOn("a\n\nb", "\n"), "\n"), "a\n\nb");
    EXPECT_EQ(joined({}, ", "), "");
}

TEST(Base64Test, RoundTripsEveryPaddingAndRefusesStrayText) {
    const struct {
        std::string bytes;
        std::string text;
    } cases[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {std::string("\0\xff\x10", 3), "AP8Q"}};
    for (const auto& c : cases) {
        EXPECT_EQ(base64Encoded(c.bytes), c.text);
        EXPECT_EQ(base64Decoded(c.text), c.bytes);
    }
    for (const char* bad : {"Zg=", "Zg==\n", "Z===", "Zm9v Zm9v", "Zm=v"})
        EXPECT_EQ(base64Decoded(bad), std::nullopt) << bad;
    // Long input stays on one line.
    EXPECT_EQ(base64Encoded(std::string(3000, 'x')).find('\n'), std::string::npos);
}

} // namespace
} // namespace velnote::platform
