#include "platform/text/CaseMapping.h"

#include "platform/text/IcuSupport.h"

#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/normalizer2.h>

namespace velnote::platform {

namespace {

constexpr const char* rootLocale = "";

// Unicode's canonical caseless match compares NFD(fold(NFD(x))); NFC of the
// same is equivalent and keeps a base letter from matching inside a
// precomposed one in containsIgnoringCase.
std::string comparisonForm(std::string_view text) {
    const std::string decomposed = normalizeUtf8(&icu::Normalizer2::getNFDInstance, text);
    return normalizeUtf8(&icu::Normalizer2::getNFCInstance, caseFolded(decomposed));
}

} // namespace

std::string lowercased(std::string_view text) {
    std::string out;
    icu::StringByteSink<std::string> sink(&out);
    UErrorCode status = U_ZERO_ERROR;
    icu::CaseMap::utf8ToLower(rootLocale, 0, icuPiece(text), sink, nullptr, status);
    throwIfIcuFailed(status, "lowercasing");
    return out;
}

std::string uppercased(std::string_view text) {
    std::string out;
    icu::StringByteSink<std::string> sink(&out);
    UErrorCode status = U_ZERO_ERROR;
    icu::CaseMap::utf8ToUpper(rootLocale, 0, icuPiece(text), sink, nullptr, status);
    throwIfIcuFailed(status, "uppercasing");
    return out;
}

std::string caseFolded(std::string_view text) {
    std::string out;
    icu::StringByteSink<std::string> sink(&out);
    UErrorCode status = U_ZERO_ERROR;
    icu::CaseMap::utf8Fold(U_FOLD_CASE_DEFAULT, icuPiece(text), sink, nullptr, status);
    throwIfIcuFailed(status, "case folding");
    return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return comparisonForm(a) == comparisonForm(b);
}

bool containsIgnoringCase(std::string_view text, std::string_view needle) {
    if (needle.empty()) {
        return false;
    }
    return comparisonForm(text).find(comparisonForm(needle)) != std::string::npos;
}

} // namespace velnote::platform
