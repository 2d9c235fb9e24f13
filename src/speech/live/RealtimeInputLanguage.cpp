#include "speech/live/RealtimeInputLanguage.h"

#include "platform/text/CaseMapping.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <unicode/locid.h>
#include <unordered_map>

namespace velnote {
namespace {

constexpr std::array<std::string_view, 10> kSupportedIdentifiers{"ja-JP", "en-US", "zh-CN", "zh-TW", "ko-KR",
                                                                 "fr-FR", "de-DE", "es-ES", "it-IT", "pt-BR"};

// Built once, safely against concurrent first use (a function-local static).
const std::unordered_map<std::string, std::string>& aliases() {
    static const std::unordered_map<std::string, std::string> table = [] {
        const std::vector<std::pair<std::string, std::vector<std::string>>> groups{
            {"auto", {"auto", "automatic", "自動", "自動判定"}},
            {"ja-JP", {"ja", "ja-jp", "japanese", "日本語"}},
            {"en-US", {"en", "en-us", "english", "英語"}},
            {"zh-CN", {"zh", "zh-cn", "chinese", "simplified chinese", "中文简体"}},
            {"zh-TW", {"zh-tw", "zh-hant", "traditional chinese", "中文繁體"}},
            {"ko-KR", {"ko", "ko-kr", "korean", "한국어"}},
            {"fr-FR", {"fr", "fr-fr", "french", "français"}},
            {"de-DE", {"de", "de-de", "german", "deutsch"}},
            {"es-ES", {"es", "es-es", "spanish", "español"}},
            {"it-IT", {"it", "it-it", "italian", "italiano"}},
            {"pt-BR", {"pt", "pt-br", "portuguese", "português"}},
        };
        std::unordered_map<std::string, std::string> entries;
        for (const auto& [value, keys] : groups) {
            for (const auto& key : keys) {
                entries.emplace(key, value);
            }
        }
        return entries;
    }();
    return table;
}

} // namespace

std::optional<std::string> normalizedRealtimeInputLanguage(const std::optional<std::string>& language) {
    if (!language) {
        return std::nullopt;
    }
    std::string value = platform::lowercased(platform::trimWhitespace(*language));
    if (value.empty()) {
        return std::nullopt;
    }
    if (const auto alias = aliases().find(value); alias != aliases().end()) {
        value = alias->second;
    }
    if (value == "auto") {
        return std::nullopt;
    }
    if (std::find(kSupportedIdentifiers.begin(), kSupportedIdentifiers.end(), value) !=
        kSupportedIdentifiers.end()) {
        return value;
    }
    VelnoteLogger::processing().notice("realtime: unsupported inputLanguage={}; fallback to auto", value);
    return std::nullopt;
}

void warnIfEnglishNotSupported(const std::optional<std::string>& normalizedLanguage) {
    if (normalizedLanguage) {
        return;
    }
    std::int32_t count = 0;
    const icu::Locale* locales = icu::Locale::getAvailableLocales(count);
    for (std::int32_t i = 0; i < count; ++i) {
        if (std::string_view(locales[i].getLanguage()) == "en") {
            return;
        }
    }
    VelnoteLogger::processing().error(
        "{}",
        "realtime: auto-detect may not support English — system locale does not include English. For "
        "reliable "
        "English transcription, explicitly set input language to 'English' or add English to system language "
        "preferences.");
}

} // namespace velnote
