#include "platform/compression/Deflate.h"

#include <gtest/gtest.h>
#include <string>
#include <zlib.h>

namespace velnote::platform {
namespace {

std::vector<std::byte> bytesOf(const std::string& text) {
    const auto* begin = reinterpret_cast<const std::byte*>(text.data());
    return {begin, begin + text.size()};
}

// Inflates a raw stream with zlib's own decoder.
std::string inflateRaw(const std::vector<std::byte>& compressed, std::size_t expectedSize) {
    std::string out(expectedSize + 16, '\0');
    z_stream stream{};
    EXPECT_EQ(inflateInit2(&stream, -15), Z_OK);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<std::byte*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    inflateEnd(&stream);
    return out;
}

TEST(DeflateTest, WritesARawStreamThatInflatesBack) {
    const std::string text(5000, 'a');
    const auto compressed = rawDeflate(bytesOf(text));
    EXPECT_LT(compressed.size(), 100u);
    // A zlib header would start with 0x78.
    EXPECT_NE(compressed.front(), std::byte{0x78});
    EXPECT_EQ(inflateRaw(compressed, text.size()), text);
}

TEST(DeflateTest, EmptyInputIsAnEmptyFinalBlock) {
    const auto compressed = rawDeflate({});
    EXPECT_EQ(compressed.size(), 2u);
    EXPECT_EQ(inflateRaw(compressed, 0), "");
}

} // namespace
} // namespace velnote::platform
