#include "platform/text/Utf16Text.h"

#include "platform/text/IcuSupport.h"

#include <unicode/utf8.h>

namespace velnote::platform {

Utf16Text::Utf16Text(std::string_view utf8) {
    const icu::StringPiece piece = icuPiece(utf8);
    byteOffsets_.reserve(utf8.size() + 1);
    int32_t offset = 0;
    while (offset < piece.length()) {
        const int32_t start = offset;
        UChar32 c = 0;
        U8_NEXT(piece.data(), offset, piece.length(), c);
        units_.append(c < 0 ? UChar32{0xFFFD} : c);
        byteOffsets_.resize(static_cast<std::size_t>(units_.length()), static_cast<std::size_t>(start));
    }
    byteOffsets_.push_back(utf8.size());
}

} // namespace velnote::platform
