#include "platform/text/Characters.h"

#include "platform/text/IcuSupport.h"

#include <memory>
#include <optional>
#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace velnote::platform {

namespace {

struct UTextCloser {
    void operator()(UText* text) const { utext_close(text); }
};

// Walks the character boundaries of UTF-8 text; a UTF-8 UText makes the
// iterator report byte offsets, so no UTF-16 conversion is needed.
class CharacterBoundaries {
  public:
    explicit CharacterBoundaries(std::string_view text) {
        const icu::StringPiece piece = icuPiece(text);
        UErrorCode status = U_ZERO_ERROR;
        text_.reset(utext_openUTF8(nullptr, piece.data(), piece.length(), &status));
        breaks_.reset(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_SUCCESS(status)) {
            breaks_->setText(text_.get(), status);
        }
        throwIfIcuFailed(status, "character break iterator");
    }

    // Byte offset just past the next character; std::nullopt at the end.
    std::optional<std::size_t> next() {
        const int32_t boundary = breaks_->next();
        if (boundary == icu::BreakIterator::DONE) {
            return std::nullopt;
        }
        return static_cast<std::size_t>(boundary);
    }

  private:
    // Declared first so the iterator, which reads it, goes first.
    std::unique_ptr<UText, UTextCloser> text_;
    std::unique_ptr<icu::BreakIterator> breaks_;
};

} // namespace

std::size_t characterCount(std::string_view text) {
    CharacterBoundaries boundaries(text);
    std::size_t count = 0;
    while (boundaries.next()) {
        ++count;
    }
    return count;
}

std::string prefixCharacters(std::string_view text, std::size_t count) {
    CharacterBoundaries boundaries(text);
    std::size_t end = 0;
    for (std::size_t taken = 0; taken < count; ++taken) {
        const std::optional<std::size_t> boundary = boundaries.next();
        if (!boundary) {
            break;
        }
        end = *boundary;
    }
    return std::string(text.substr(0, end));
}

std::vector<std::string_view> splitCharacters(std::string_view text) {
    CharacterBoundaries boundaries(text);
    std::vector<std::string_view> characters;
    std::size_t start = 0;
    while (const std::optional<std::size_t> end = boundaries.next()) {
        characters.push_back(text.substr(start, *end - start));
        start = *end;
    }
    return characters;
}

std::string replacingNonAlphanumerics(std::string_view text, std::string_view alsoKept,
                                      std::string_view replacement) {
    const icu::StringPiece piece = icuPiece(text);
    constexpr uint32_t kept = U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK;
    std::string out;
    int32_t offset = 0;
    while (offset < piece.length()) {
        const int32_t start = offset;
        UChar32 c = 0;
        U8_NEXT(piece.data(), offset, piece.length(), c);
        const bool keep =
            c >= 0 && ((U_GET_GC_MASK(c) & kept) != 0 ||
                       (c < 0x80 && alsoKept.find(static_cast<char>(c)) != std::string_view::npos));
        if (keep)
            out.append(
                text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(offset - start)));
        else
            out.append(replacement);
    }
    return out;
}

bool isValidUtf8(std::string_view text) {
    const icu::StringPiece piece = icuPiece(text);
    int32_t offset = 0;
    while (offset < piece.length()) {
        UChar32 c = 0;
        U8_NEXT(piece.data(), offset, piece.length(), c);
        if (c < 0) {
            return false;
        }
    }
    return true;
}

std::string replacingInvalidUtf8(std::string_view text) {
    const icu::StringPiece piece = icuPiece(text);
    std::string out;
    out.reserve(text.size());
    int32_t offset = 0;
    while (offset < piece.length()) {
        const int32_t start = offset;
        UChar32 c = 0;
        // U8_NEXT steps over the maximal ill-formed subpart, so each bad sequence is one U+FFFD.
        U8_NEXT(piece.data(), offset, piece.length(), c);
        if (c < 0)
            out += "\xEF\xBF\xBD";
        else
            out.append(text.data() + start, static_cast<std::size_t>(offset - start));
    }
    return out;
}

std::string_view withoutUnfinishedCharacter(std::string_view text) {
    std::size_t start = text.size();
    std::size_t continuation = 0;
    while (start > 0 && continuation < 3 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) {
        --start;
        ++continuation;
    }
    if (start == 0)
        return text;
    const auto lead = static_cast<unsigned char>(text[start - 1]);
    const std::size_t needed = lead >= 0xF0 && lead < 0xF8 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return needed > continuation + 1 && needed > 1 ? text.substr(0, start - 1) : text;
}

} // namespace velnote::platform
