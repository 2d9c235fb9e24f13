#include "engine/speech/decoding/TextUtilities.h"

#include "engine/foundation/Logging.h"
#include "platform/compression/Deflate.h"

#include <limits>
#include <span>

namespace vocalith {

namespace {

float ratioOf(std::span<const std::byte> bytes) {
    try {
        const auto compressed = velnote::platform::rawDeflate(bytes);
        return static_cast<float>(bytes.size()) / static_cast<float>(compressed.size());
    } catch (const velnote::platform::CompressionError& error) {
        basalith::Logging::debug(std::string("Compression error: ") + error.what());
        return std::numeric_limits<float>::infinity();
    }
}

} // namespace

float TextUtilities::compressionRatio(const std::vector<std::int64_t>& tokens) {
    std::vector<std::byte> bytes;
    bytes.reserve(tokens.size() * 4);
    for (const auto token : tokens) {
        const auto value = static_cast<std::uint32_t>(static_cast<std::int32_t>(token));
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<std::byte>((value >> shift) & 0xFF));
    }
    return ratioOf(bytes);
}

float TextUtilities::compressionRatio(std::string_view text) {
    if (text.empty())
        return std::numeric_limits<float>::infinity();
    return ratioOf(std::as_bytes(std::span(text.data(), text.size())));
}

} // namespace vocalith
