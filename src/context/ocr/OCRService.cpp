#include "context/ocr/OCRService.h"

#include "platform/text/CaseMapping.h"
#include "platform/text/Whitespace.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <system_error>
#include <utility>

namespace velnote {
namespace {

// Tesseract data names and the identifiers they recognise, in the order the
// recogniser offers them. A name missing here has no identifier to give.
constexpr std::array<std::pair<std::string_view, std::string_view>, 19> kTessdataLanguages = {{
    {"eng", "en-US"}, {"fra", "fr-FR"},       {"ita", "it-IT"},       {"deu", "de-DE"}, {"spa", "es-ES"},
    {"por", "pt-BR"}, {"chi_sim", "zh-Hans"}, {"chi_tra", "zh-Hant"}, {"kor", "ko-KR"}, {"jpn", "ja-JP"},
    {"rus", "ru-RU"}, {"ukr", "uk-UA"},       {"tha", "th-TH"},       {"vie", "vi-VN"}, {"ara", "ar-SA"},
    {"nld", "nl-NL"}, {"pol", "pl-PL"},       {"tur", "tr-TR"},       {"ind", "id-ID"},
}};

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

std::optional<std::string> OCRService::normalizedInputLanguage(std::optional<std::string_view> value) {
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
OCRService::preferredVisionRecognitionLanguage(std::optional<std::string_view> input,
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

std::optional<std::string>
OCRService::preferredVisionRecognitionLanguage(std::optional<std::string_view> input) {
    return preferredVisionRecognitionLanguage(input, supportedVisionRecognitionLanguages());
}

const std::vector<std::string>& OCRService::supportedVisionRecognitionLanguages() {
    static const std::vector<std::string> languages = recognitionLanguages(tessdataDirectory());
    return languages;
}

std::vector<std::string> OCRService::recognitionLanguages(const std::filesystem::path& tessdata) {
    std::vector<std::string> languages;
    for (const auto& [name, identifier] : kTessdataLanguages) {
        std::error_code ignored;
        if (std::filesystem::is_regular_file(tessdata / (std::string(name) + ".traineddata"), ignored))
            languages.emplace_back(identifier);
    }
    return languages;
}

std::filesystem::path OCRService::tessdataDirectory() {
    const char* prefix = std::getenv("TESSDATA_PREFIX");
    if (prefix != nullptr && *prefix != '\0')
        return prefix;
    return "/usr/share/tesseract-ocr/5/tessdata";
}

std::vector<std::string> OCRService::currentVisionOCRRecognitionLanguages() {
    return currentVisionOCRRecognitionLanguages(platform::SettingsStore::standard(),
                                                supportedVisionRecognitionLanguages());
}

std::vector<std::string>
OCRService::currentVisionOCRRecognitionLanguages(const platform::SettingsStore& settings,
                                                 std::vector<std::string> supportedLanguages) {
    const auto input = settings.string("inputLanguage");
    const std::string target =
        preferredVisionRecognitionLanguage(input, supportedLanguages).value_or(std::string(kDefaultTarget));
    if (!moveToFront(supportedLanguages, target))
        moveToFront(supportedLanguages, kDefaultTarget);
    return supportedLanguages;
}

} // namespace velnote
