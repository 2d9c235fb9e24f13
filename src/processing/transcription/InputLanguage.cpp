#include "processing/transcription/InputLanguage.h"

#include "platform/text/CaseMapping.h"
#include "platform/text/Normalization.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"

#include <set>
#include <unordered_map>

namespace velnote {
namespace {

const std::unordered_map<std::string, std::string>& inputLanguageAliases() {
    static const std::unordered_map<std::string, std::string> aliases = [] {
        const std::pair<const char*, std::vector<const char*>> table[] = {
            {"auto", {"auto", "automatic", "自動", "自動判定"}},
            {"ja", {"ja", "ja-jp", "japanese", "日本語"}},
            {"en", {"en", "en-us", "english", "英語"}},
            {"zh", {"zh", "zh-cn", "chinese", "simplified chinese", "中文简体"}},
            {"zh-tw", {"zh-tw", "zh-hant", "traditional chinese", "中文繁體"}},
            {"ko", {"ko", "ko-kr", "korean", "한국어"}},
            {"fr", {"fr", "fr-fr", "french", "français"}},
            {"de", {"de", "de-de", "german", "deutsch"}},
            {"es", {"es", "es-es", "spanish", "español"}},
            {"it", {"it", "it-it", "italian", "italiano"}},
            {"pt", {"pt", "pt-br", "portuguese", "português"}},
        };
        std::unordered_map<std::string, std::string> map;
        for (const auto& [code, names] : table) {
            for (const char* name : names)
                map.emplace(platform::nfc(name), code);
        }
        return map;
    }();
    return aliases;
}

const std::set<std::string>& supportedInputLanguages() {
    static const std::set<std::string> codes = {"ja", "en", "zh", "ko", "fr", "de", "es", "it", "pt"};
    return codes;
}

} // namespace

std::optional<std::string> InputLanguage::resolved(const std::optional<std::string>& value) {
    const std::string key =
        value ? platform::nfc(platform::lowercased(platform::trimWhitespace(*value))) : "";
    if (key.empty()) {
        VelnoteLogger::transcribe().notice("inputLanguage is empty; fallback to ja");
        return "ja";
    }
    const auto alias = inputLanguageAliases().find(key);
    const std::string code = alias == inputLanguageAliases().end() ? key : alias->second;
    if (code == "auto")
        return std::nullopt;
    if (supportedInputLanguages().count(code))
        return code;
    if (code == "zh-tw")
        return "zh";
    VelnoteLogger::transcribe().notice("unsupported inputLanguage={}; fallback to ja", key);
    return "ja";
}

} // namespace velnote
