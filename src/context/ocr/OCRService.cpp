#include "context/ocr/OCRService.h"

#include "session/config/OCRLanguageChoice.h"

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

} // namespace

std::optional<std::string>
OCRService::preferredVisionRecognitionLanguage(std::optional<std::string_view> input) {
    return OCRLanguageChoice::preferredVisionRecognitionLanguage(input,
                                                                 supportedVisionRecognitionLanguages());
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
    return OCRLanguageChoice::currentVisionOCRRecognitionLanguages(platform::SettingsStore::standard(),
                                                                   supportedVisionRecognitionLanguages());
}

} // namespace velnote
