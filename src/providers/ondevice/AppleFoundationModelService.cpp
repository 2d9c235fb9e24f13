#include "providers/ondevice/AppleFoundationModelService.h"

#include "platform/text/Split.h"
#include "platform/text/Whitespace.h"
#include "providers/ondevice/AppleFoundationModelError.h"
#include "providers/ondevice/LlamaOnDeviceModel.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"

#include <algorithm>
#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace velnote {
namespace {

using GenerationKind = OnDeviceGenerationError::Kind;

bool isRefusal(const OnDeviceGenerationError& e) {
    return e.kind() == GenerationKind::guardrailViolation || e.kind() == GenerationKind::refusal;
}

// Gives the slot back on every way out; the release runs on the scheduler, not here.
class SlotHold {
  public:
    SlotHold(ModelExecutionScheduler& scheduler, ModelExecutionSlotToken token)
        : scheduler_(scheduler), token_(std::move(token)) {}
    ~SlotHold() { (void)scheduler_.releaseSlot(token_); }
    SlotHold(const SlotHold&) = delete;
    SlotHold& operator=(const SlotHold&) = delete;

  private:
    ModelExecutionScheduler& scheduler_;
    ModelExecutionSlotToken token_;
};

std::string currentLocaleIdentifier() {
    return icu::Locale::getDefault().getName();
}

// The names, in the current locale, of the languages of `identifiers`, sorted, joined with ", ".
std::string languageNames(const std::vector<std::string>& identifiers) {
    std::vector<std::string> names;
    for (const auto& identifier : identifiers) {
        icu::UnicodeString display;
        icu::Locale(identifier.c_str()).getDisplayLanguage(icu::Locale::getDefault(), display);
        std::string name;
        display.toUTF8String(name);
        if (!name.empty())
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return platform::joined(names, ", ");
}

} // namespace

AppleFoundationModelService::AppleFoundationModelService(std::shared_ptr<OnDeviceLanguageModel> model,
                                                         ModelExecutionScheduler& scheduler)
    : model_(std::move(model)), scheduler_(scheduler) {}

AppleFoundationModelService& AppleFoundationModelService::shared() {
    static AppleFoundationModelService* service =
        new AppleFoundationModelService(std::make_shared<LlamaOnDeviceModel>(LlamaOnDeviceModel::Options{}));
    return *service;
}

std::string AppleFoundationModelService::safePrefix() {
    return L10n::isJapanese()
               ? "以下のテキストを Markdown 形式で要約してください。\n"
                 "- 不適切・攻撃的・差別的な表現は省略し、会議の議題と結論のみをまとめてください。\n"
               : "Summarize the following text in Markdown format.\n"
                 "- Omit inappropriate, aggressive, or discriminatory expressions and summarize only "
                 "the meeting agenda and conclusions.\n";
}

std::string AppleFoundationModelService::minimalInstructions() {
    return L10n::isJapanese()
               ? "日本語で会議の要約を Markdown で作成してください。\n"
                 "# タイトル → ## 概要（2文以内）→ ## トピック（箇条書き）の順で出力してください。\n"
                 "テーブルは使わない。推測は書かない。不明な箇所は（※）で示す。"
               : "Create a meeting summary in Markdown.\n"
                 "Output in order: # Title → ## Overview (2 sentences max) → ## Topics (bullet points).\n"
                 "No tables. No speculation. Mark unclear parts with (※).";
}

std::string
AppleFoundationModelService::unavailabilityDescription(const OnDeviceModelAvailability& availability) {
    using State = OnDeviceModelAvailability::State;
    switch (availability.state) {
    case State::deviceNotEligible:
        return L10n::localized("L10n.Transcribe.AppleFoundation.deviceNotEligible",
                               "このデバイスは Apple Intelligence に対応していません");
    case State::featureNotEnabled:
        return L10n::localized("L10n.Transcribe.AppleFoundation.enableAppleIntelligence",
                               "設定で Apple Intelligence を有効にしてください");
    case State::modelNotReady:
        return L10n::localized("L10n.Transcribe.AppleFoundation.modelNotReady",
                               "モデルの準備ができていません（ダウンロード中または初期化中）");
    case State::other:
        return L10n::localized("L10n.Transcribe.AppleFoundation.unavailableOther",
                               "利用できない状態です (%@)", {availability.otherReason});
    case State::available:
        break;
    }
    return L10n::localized("L10n.Transcribe.AppleFoundation.unavailableReason", "不明な理由");
}

std::string AppleFoundationModelService::summarize(const std::string& systemPrompt,
                                                   const std::string& userPrompt, bool,
                                                   const std::optional<std::filesystem::path>&,
                                                   const std::function<void(const std::string&)>&,
                                                   std::stop_token stop) const {
    const auto& log = VelnoteLogger::summarize();
    SlotHold slot(scheduler_, scheduler_.reserveSlot(ModelExecutionPriority::appleLocal, stop).get());

    const auto availability = model_->availability();
    if (!availability.isAvailable())
        throw AppleFoundationModelError::unavailable(unavailabilityDescription(availability));

    const std::string locale = currentLocaleIdentifier();
    const std::string language = icu::Locale(locale.c_str()).getLanguage();
    if (!model_->supportsLocale(locale) && !model_->supportsLocale(language.empty() ? locale : language))
        log.error("Apple Foundation Models: locale {} not in supportedLanguages — proceeding anyway", locale);

    try {
        return generateSingleCore(systemPrompt, userPrompt, stop);
    } catch (const OnDeviceGenerationError& e) {
        if (e.kind() == GenerationKind::exceededContextWindowSize)
            throw AppleFoundationModelError::contextTooLarge();
        if (e.kind() == GenerationKind::unsupportedLanguageOrLocale) {
            log.error("Apple Foundation Models: unsupported language/locale {}", locale);
            throw AppleFoundationModelError::unsupportedLanguage(locale,
                                                                 languageNames(model_->supportedLanguages()));
        }
        log.notice("Apple Foundation Models: safety guardrail triggered, retrying with safe prompt");
    }
    return generateSingleSafe(systemPrompt, userPrompt, stop);
}

std::string AppleFoundationModelService::generateSingleCore(const std::string& systemPrompt,
                                                            const std::string& userPrompt,
                                                            std::stop_token stop) const {
    std::string answer = platform::trimWhitespace(model_->respond(systemPrompt, userPrompt, std::move(stop)));
    if (answer.empty())
        throw AppleFoundationModelError::emptyResponse();
    return answer;
}

std::string AppleFoundationModelService::generateSingleSafe(const std::string& systemPrompt,
                                                            const std::string& userPrompt,
                                                            std::stop_token stop) const {
    try {
        return generateSingleCore(systemPrompt, safePrefix() + "\n" + userPrompt, stop);
    } catch (const OnDeviceGenerationError& e) {
        if (!isRefusal(e))
            throw;
        VelnoteLogger::summarize().notice(
            "Apple Foundation Models: safe prompt also refused, retrying with minimal summary prompt");
    }
    return generateSingleMinimal(userPrompt, stop);
}

std::string AppleFoundationModelService::generateSingleMinimal(const std::string& userPrompt,
                                                               std::stop_token stop) const {
    try {
        return generateSingleCore(minimalInstructions(), userPrompt, std::move(stop));
    } catch (const OnDeviceGenerationError& e) {
        if (isRefusal(e))
            throw AppleFoundationModelError::refusal();
        throw;
    }
}

} // namespace velnote
