#include "platform/text/IcuSupport.h"

#include <limits>
#include <stdexcept>
#include <unicode/bytestream.h>

namespace velnote::platform {

icu::StringPiece icuPiece(std::string_view utf8) {
    if (utf8.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
        throw std::length_error("text too long for ICU: " + std::to_string(utf8.size()) + " bytes");
    }
    return {utf8.data(), static_cast<int32_t>(utf8.size())};
}

icu::UnicodeString toUtf16(std::string_view utf8) {
    return icu::UnicodeString::fromUTF8(icuPiece(utf8));
}

std::string toUtf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

std::string normalizeUtf8(NormalizerInstance instance, std::string_view utf8) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = instance(status);
    std::string out;
    icu::StringByteSink<std::string> sink(&out);
    if (U_SUCCESS(status)) {
        normalizer->normalizeUTF8(0, icuPiece(utf8), sink, nullptr, status);
    }
    throwIfIcuFailed(status, "normalization");
    return out;
}

void throwIfIcuFailed(UErrorCode status, std::string_view what) {
    if (U_FAILURE(status)) {
        throw std::runtime_error(std::string(what) + " failed: " + u_errorName(status));
    }
}

} // namespace velnote::platform
