#include "platform/text/Whitespace.h"

#include "platform/text/IcuSupport.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace velnote::platform {

namespace {

bool isWhitespace(UChar32 c) {
    return u_isUWhiteSpace(c);
}

bool isSpaceOrTab(UChar32 c) {
    return c == '\t' || u_charType(c) == U_SPACE_SEPARATOR;
}

using CharacterTest = bool (*)(UChar32);

int32_t leadingWhitespaceEnd(icu::StringPiece text, CharacterTest test = isWhitespace) {
    int32_t offset = 0;
    while (offset < text.length()) {
        int32_t next = offset;
        UChar32 c = 0;
        U8_NEXT(text.data(), next, text.length(), c);
        if (c < 0 || !test(c)) {
            break;
        }
        offset = next;
    }
    return offset;
}

int32_t trailingWhitespaceStart(icu::StringPiece text, int32_t start, CharacterTest test = isWhitespace) {
    int32_t offset = text.length();
    while (offset > start) {
        int32_t previous = offset;
        UChar32 c = 0;
        U8_PREV(text.data(), start, previous, c);
        if (c < 0 || !test(c)) {
            break;
        }
        offset = previous;
    }
    return offset;
}

} // namespace

std::string trimWhitespace(std::string_view text) {
    const icu::StringPiece piece = icuPiece(text);
    const int32_t begin = leadingWhitespaceEnd(piece);
    const int32_t end = trailingWhitespaceStart(piece, begin);
    return std::string(text.substr(begin, end - begin));
}

std::string trimSpacesAndTabs(std::string_view text) {
    const icu::StringPiece piece = icuPiece(text);
    const int32_t begin = leadingWhitespaceEnd(piece, isSpaceOrTab);
    const int32_t end = trailingWhitespaceStart(piece, begin, isSpaceOrTab);
    return std::string(text.substr(begin, end - begin));
}

std::size_t leadingWhitespaceLength(std::string_view text) {
    return static_cast<std::size_t>(leadingWhitespaceEnd(icuPiece(text)));
}

bool isBlank(std::string_view text) {
    const icu::StringPiece piece = icuPiece(text);
    return leadingWhitespaceEnd(piece) == piece.length();
}

std::vector<std::string> splitOnWhitespace(std::string_view text) {
    const icu::StringPiece piece = icuPiece(text);
    std::vector<std::string> pieces;
    int32_t start = 0;
    int32_t offset = 0;
    while (offset < piece.length()) {
        const int32_t at = offset;
        UChar32 c = 0;
        U8_NEXT(piece.data(), offset, piece.length(), c);
        if (c >= 0 && u_isUWhiteSpace(c)) {
            if (at > start)
                pieces.emplace_back(text.substr(start, at - start));
            start = offset;
        }
    }
    if (piece.length() > start)
        pieces.emplace_back(text.substr(start));
    return pieces;
}

} // namespace velnote::platform
