#pragma once

// Small glue between std::string and ICU, shared by this folder's sources.

#include <string>
#include <string_view>
#include <unicode/normalizer2.h>
#include <unicode/stringpiece.h>
#include <unicode/unistr.h>
#include <unicode/utypes.h>

namespace velnote::platform {

// ICU measures text in int32_t; a longer text throws std::length_error instead
// of being cut short silently.
icu::StringPiece icuPiece(std::string_view utf8);

// Invalid UTF-8 sequences become U+FFFD.
icu::UnicodeString toUtf16(std::string_view utf8);
std::string toUtf8(const icu::UnicodeString& text);

// `instance` is one of Normalizer2's getters, such as getNFCInstance.
using NormalizerInstance = const icu::Normalizer2* (*)(UErrorCode&);
std::string normalizeUtf8(NormalizerInstance instance, std::string_view utf8);

// Throws std::runtime_error naming `what` and ICU's error code on failure.
void throwIfIcuFailed(UErrorCode status, std::string_view what);

} // namespace velnote::platform
