#include "platform/compression/Deflate.h"

#include <memory>
#include <string>
#include <zlib.h>

namespace velnote::platform {

namespace {

constexpr int kLevel = 5;
constexpr int kRawWindowBits = -15; // negative: no zlib header or trailer
constexpr int kMemoryLevel = 8;
constexpr std::size_t kMaxInputBytes = std::size_t{1} << 30;

struct DeflateEnd {
    void operator()(z_stream* stream) const {
        deflateEnd(stream);
        delete stream;
    }
};

[[noreturn]] void fail(const char* step, int code) {
    throw CompressionError(std::string("zlib ") + step + " failed (" + std::to_string(code) + ")");
}

} // namespace

std::vector<std::byte> rawDeflate(std::span<const std::byte> bytes) {
    // Keeps the input and deflateBound's answer within zlib's 32-bit counters.
    if (bytes.size() > kMaxInputBytes)
        throw CompressionError("input too large to compress in one piece");
    auto* raw = new z_stream{};
    const int init = deflateInit2(raw, kLevel, Z_DEFLATED, kRawWindowBits, kMemoryLevel, Z_DEFAULT_STRATEGY);
    if (init != Z_OK) {
        delete raw;
        fail("deflateInit2", init);
    }
    std::unique_ptr<z_stream, DeflateEnd> stream(raw);
    std::vector<std::byte> out(deflateBound(stream.get(), static_cast<uLong>(bytes.size())));
    // zlib's interface is not const-correct; it only reads the input.
    stream->next_in = reinterpret_cast<Bytef*>(const_cast<std::byte*>(bytes.data()));
    stream->avail_in = static_cast<uInt>(bytes.size());
    stream->next_out = reinterpret_cast<Bytef*>(out.data());
    stream->avail_out = static_cast<uInt>(out.size());
    // deflateBound guarantees one call with Z_FINISH completes.
    const int result = deflate(stream.get(), Z_FINISH);
    if (result != Z_STREAM_END)
        fail("deflate", result);
    out.resize(stream->total_out);
    return out;
}

} // namespace velnote::platform
