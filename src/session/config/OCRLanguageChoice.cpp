#include "session/config/OCRLanguageChoice.h"

#include "platform/text/CaseMapping.h"
#include "platform/text/Whitespace.h"

#include <algorithm>

namespace velnote {
namespace {

constexpr std::string_view kDefaultTarget = "ja-JP";

// Moves the first occurrence of `language` to the front; false when absent.
bool moveToFront(std::vector<std::string>& languages, std::string_view language) {
    const auto found = std::find(languages.begin(), languages.end(), language);
    if (found == languages.end())
        return false;
    std::rotate(languages.begin(), found, found + 1);
    return true;
}

} // namespace

std::optional<std::string> OCRLanguageChoice::normalizedInputLanguage(std::optional<std::string_view> value) {
    if (!value)
        return std::nullopt;
    std::string code = platform::lowercased(platform::trimWhitespace(*value));
    if (code.empty())
        return std::nullopt;
    std::replace(code.begin(), code.end(), '_', '-');
    if (code == "auto" || code == "automatic" || code == "自動" || code == "自動判定")
        return std::nullopt;
    return code;
}

std::optional<std::string>
OCRLanguageChoice::preferredVisionRecognitionLanguage(std::optional<std::string_view> input,
                                                      const std::vector<std::string>& supportedLanguages) {
    const auto code = normalizedInputLanguage(input);
    if (!code)
        return std::nullopt;
    std::vector<std::string> lowered;
    lowered.reserve(supportedLanguages.size());
    for (const auto& language : supportedLanguages)
        lowered.push_back(platform::lowercased(language));

    const auto firstWhere = [&](auto matches) -> std::optional<std::string> {
        for (std::size_t i = 0; i < lowered.size(); ++i) {
            if (matches(lowered[i]))
                return supportedLanguages[i];
        }
        return std::nullopt;
    };
    const std::string base = code->substr(0, code->find('-'));
    if (auto exact = firstWhere([&](const std::string& entry) { return entry == *code; }))
        return exact;
    if (auto regional = firstWhere([&](const std::string& entry) { return entry.starts_with(base + "-"); }))
        return regional;
    return firstWhere([&](const std::string& entry) { return entry == base; });
}

std::vector<std::string>
OCRLanguageChoice::currentVisionOCRRecognitionLanguages(const platform::SettingsStore& settings,
                                                        std::vector<std::string> supportedLanguages) {
    const auto input = settings.string("inputLanguage");
    const std::string target =
        preferredVisionRecognitionLanguage(input, supportedLanguages).value_or(std::string(kDefaultTarget));
    if (!moveToFront(supportedLanguages, target))
        moveToFront(supportedLanguages, kDefaultTarget);
    return supportedLanguages;
}

} // namespace velnote
