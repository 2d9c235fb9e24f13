#include "platform/text/Base64.h"

#include <algorithm>
#include <cstdint>

namespace velnote::platform {

namespace {

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

} // namespace

std::string base64Encoded(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t chunk = std::uint32_t{static_cast<unsigned char>(bytes[i])} << 16;
        if (n > 1)
            chunk |= std::uint32_t{static_cast<unsigned char>(bytes[i + 1])} << 8;
        if (n > 2)
            chunk |= static_cast<unsigned char>(bytes[i + 2]);
        for (std::size_t k = 0; k < 4; ++k) {
            out += k <= n ? kBase64Alphabet[(chunk >> (18 - 6 * k)) & 0x3F] : '=';
        }
    }
    return out;
}

std::optional<std::string> base64Decoded(std::string_view text) {
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=')
        ++padding;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t chunk = 0;
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        const auto at = kBase64Alphabet.find(text[i]);
        if (at == std::string_view::npos)
            return std::nullopt;
        chunk = (chunk << 6) | static_cast<std::uint32_t>(at);
        if (i % 4 == 3) {
            out.push_back(static_cast<char>(chunk >> 16));
            out.push_back(static_cast<char>(chunk >> 8));
            out.push_back(static_cast<char>(chunk));
            chunk = 0;
        }
    }
    if (padding == 1) {
        out.push_back(static_cast<char>(chunk >> 10));
        out.push_back(static_cast<char>(chunk >> 2));
    } else if (padding == 2) {
        out.push_back(static_cast<char>(chunk >> 4));
    }
    return out;
}

} // namespace velnote::platform
