#include "ui/settings/LanguageOptions.h"

#include "session/l10n/L10n.h"

#include <array>
#include <unicode/uloc.h>
#include <unicode/ustring.h>

namespace velnote {

namespace {

// The interface language as ICU names locales. ICU's own default would read an empty LC_ALL as
// the root locale, which names no language at all.
std::string displayLocale() {
    const auto& tags = L10n::preferredTags();
    std::array<char, ULOC_FULLNAME_CAPACITY> id{};
    UErrorCode status = U_ZERO_ERROR;
    const std::string tag = tags.empty() ? "en" : tags.front();
    uloc_forLanguageTag(tag.c_str(), id.data(), static_cast<int32_t>(id.size()), nullptr, &status);
    return U_FAILURE(status) || id[0] == '\0' ? std::string("en") : std::string(id.data());
}

} // namespace

std::string LanguageOptions::displayName(const std::string& code) {
    std::array<char, ULOC_FULLNAME_CAPACITY> canonical{};
    UErrorCode status = U_ZERO_ERROR;
    uloc_forLanguageTag(code.c_str(), canonical.data(), static_cast<int32_t>(canonical.size()), nullptr,
                        &status);
    if (U_FAILURE(status) || canonical[0] == '\0') {
        return code;
    }
    std::array<UChar, 128> name{};
    status = U_ZERO_ERROR;
    const int32_t length = uloc_getDisplayName(canonical.data(), displayLocale().c_str(), name.data(),
                                               static_cast<int32_t>(name.size()), &status);
    // For a code its data does not know, ICU spells the code out and warns that it used the
    // root data: that is no name.
    if (U_FAILURE(status) || status == U_USING_DEFAULT_WARNING || length <= 0) {
        return code;
    }
    std::array<char, 512> utf8{};
    int32_t written = 0;
    status = U_ZERO_ERROR;
    u_strToUTF8(utf8.data(), static_cast<int32_t>(utf8.size()), &written, name.data(), length, &status);
    if (U_FAILURE(status) || written <= 0) {
        return code;
    }
    return std::string(utf8.data(), static_cast<std::size_t>(written));
}

std::vector<LanguageOption> LanguageOptions::outputLanguages() {
    std::vector<LanguageOption> options;
    for (const char* code : {"ja", "en", "zh", "zh-tw", "ko", "fr", "de", "es", "it", "pt"}) {
        options.push_back({code, displayName(code)});
    }
    return options;
}

std::vector<LanguageOption> LanguageOptions::inputLanguages() {
    std::vector<LanguageOption> options{{"auto", L10n::localized("L10n.Common.autoDetect", "Auto Detect")}};
    const auto languages = outputLanguages();
    options.insert(options.end(), languages.begin(), languages.end());
    return options;
}

} // namespace velnote
