#include "providers/ondevice/AppleFoundationModelError.h"

#include "session/l10n/L10n.h"

namespace velnote {

AppleFoundationModelError::AppleFoundationModelError(Kind kind, std::string description)
    : std::runtime_error(description), kind_(kind) {}

AppleFoundationModelError AppleFoundationModelError::unavailable(std::string reason) {
    AppleFoundationModelError error(
        Kind::unavailable, L10n::localized("L10n.Transcribe.AppleFoundation.unavailableErrorDescription",
                                           "Apple Foundation Models が利用できません: %@", {reason}));
    error.reason_ = std::move(reason);
    return error;
}

AppleFoundationModelError AppleFoundationModelError::unsupportedLanguage(std::string current,
                                                                         std::string supported) {
    const std::string suffix = supported.empty() ? "" : "（対応言語: " + supported + "）";
    AppleFoundationModelError error(
        Kind::unsupportedLanguage,
        L10n::localized("L10n.Transcribe.AppleFoundation.unsupportedLanguage",
                        "Apple Foundation Models は現在の言語設定 (%@) に対応していません%@。 デバイスの "
                        "Apple Intelligence 言語設定を確認してください。",
                        {current, suffix}));
    error.current_ = std::move(current);
    error.supported_ = std::move(supported);
    return error;
}

AppleFoundationModelError AppleFoundationModelError::refusal(std::optional<std::string> reason) {
    if (!reason) {
        return AppleFoundationModelError(
            Kind::refusal, L10n::localized("L10n.Transcribe.AppleFoundation.refusalNoReason",
                                           "Apple Foundation Models が安全ポリシーにより要約を拒否しました。"
                                           "内容に不適切な表現が含まれている可能性があります。"));
    }
    AppleFoundationModelError error(
        Kind::refusal,
        L10n::localized("L10n.Transcribe.AppleFoundation.refusalWithReason",
                        "Apple Foundation Models が安全ポリシーにより要約を拒否しました: %@", {*reason}));
    error.reason_ = std::move(*reason);
    return error;
}

AppleFoundationModelError AppleFoundationModelError::emptyResponse() {
    return AppleFoundationModelError(Kind::emptyResponse,
                                     L10n::localized("L10n.Transcribe.AppleFoundation.emptyResponse",
                                                     "Apple Foundation Models からの応答が空でした"));
}

AppleFoundationModelError AppleFoundationModelError::contextTooLarge() {
    return AppleFoundationModelError(
        Kind::contextTooLarge,
        L10n::localized("L10n.Transcribe.AppleFoundation.contextTooLarge",
                        "Apple Foundation Models のコンテキストが大きすぎて、要約を生成できませんでした。"));
}

} // namespace velnote
