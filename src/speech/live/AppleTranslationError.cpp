#include "speech/live/AppleTranslationError.h"

#include "session/l10n/L10n.h"

namespace velnote {

AppleTranslationError AppleTranslationError::translationFailed(const std::string& reason) {
    return {Kind::translationFailed, L10n::isJapanese()
                                         ? "Apple Translate による翻訳に失敗しました: " + reason
                                         : "Apple Translate translation failed: " + reason};
}

AppleTranslationError AppleTranslationError::modelNotInstalled(const std::string& source,
                                                               const std::string& target) {
    return {
        Kind::modelNotInstalled,
        L10n::isJapanese()
            ? "翻訳モデル（" + source + "→" + target +
                  "）がインストールされていません。\nシステム設定 → 一般 → 言語と地域 → 翻訳言語 "
                  "からダウンロードしてください。"
            : "Translation model (" + source + "→" + target +
                  ") is not installed.\nGo to System Settings → General → Language & Region → Translation "
                  "Languages to download it."};
}

AppleTranslationError AppleTranslationError::unsupportedLanguagePair(const std::string& source,
                                                                     const std::string& target) {
    return {Kind::unsupportedLanguagePair,
            L10n::isJapanese()
                ? "この言語ペア（" + source + "→" + target + "）は Apple Translate で対応していません。"
                : "This language pair (" + source + "→" + target + ") is not supported by Apple Translate."};
}

} // namespace velnote
