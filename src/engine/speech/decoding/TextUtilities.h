#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace vocalith {

// How repetitive a token sequence or a text is: its size in bytes over the size of its raw DEFLATE
// form. A decoder stuck in a loop produces output that compresses well, so its ratio is high.
struct TextUtilities {
    // The tokens as little-endian 32-bit integers (4 bytes each). Positive infinity when the
    // compressor fails (logged at debug level).
    static float compressionRatio(const std::vector<std::int64_t>& tokens);
    // The text's UTF-8 bytes; positive infinity for an empty text.
    static float compressionRatio(std::string_view text);
};

inline float compressionRatio(const std::vector<std::int64_t>& tokens) {
    return TextUtilities::compressionRatio(tokens);
}
inline float compressionRatio(std::string_view text) {
    return TextUtilities::compressionRatio(text);
}

} // namespace vocalith
