#include "platform/language/LanguageRecognizer.h"

#include <cld2/public/compact_lang_det.h>
#include <cld2/public/encodings.h>
#include <limits>

namespace velnote::platform {

std::optional<std::string> dominantLanguage(std::string_view text) {
    if (text.empty() || text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return std::nullopt;
    CLD2::Language top3[3];
    int percent3[3];
    double normalizedScore3[3];
    int textBytes = 0;
    int validPrefixBytes = 0;
    bool reliable = false;
    const CLD2::CLDHints hints{nullptr, nullptr, CLD2::UNKNOWN_ENCODING, CLD2::UNKNOWN_LANGUAGE};
    const CLD2::Language language = CLD2::ExtDetectLanguageSummaryCheckUTF8(
        text.data(), static_cast<int>(text.size()), /*is_plain_text=*/true, &hints, /*flags=*/0, top3,
        percent3, normalizedScore3, /*resultchunkvector=*/nullptr, &textBytes, &reliable, &validPrefixBytes);
    if (language == CLD2::UNKNOWN_LANGUAGE || language == CLD2::TG_UNKNOWN_LANGUAGE || textBytes == 0)
        return std::nullopt;
    return std::string(CLD2::LanguageCode(language));
}

} // namespace velnote::platform
