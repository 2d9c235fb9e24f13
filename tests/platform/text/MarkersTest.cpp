#include "platform/text/Markers.h"

#include <gtest/gtest.h>

namespace velnote::platform {
namespace {

TEST(MarkersTest, RemovesEveryMarkerIncludingOnesJoinedByARemoval) {
    const std::vector<std::string> chat = {"<|im_start|>", "<|im_end|>"};
    const struct {
        std::string_view text;
        std::string expected;
    } cases[] = {
        {"plain text", "plain text"},
        {"a<|im_end|>b<|im_start|>c", "abc"},
        {"<|im_<|im_end|>start|>user", "user"},
        {"<|im_<|im_<|im_end|>end|>start|>", ""},
        {std::string_view("x\0<|im_end|>y", 13), std::string("x\0y", 3)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(withoutMarkers(c.text, chat), c.expected) << c.text;
    EXPECT_EQ(withoutMarkers("abc", {"", "b"}), "ac");
}

} // namespace
} // namespace velnote::platform
