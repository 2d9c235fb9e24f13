#include "context/activity/inference/ActivityIntentInferenceService.h"

#include "platform/json/Json.h"
#include "platform/text/Regex.h"
#include "platform/text/Split.h"
#include "platform/text/Whitespace.h"
#include "providers/ondevice/AppleFoundationModelService.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"

#include <algorithm>

namespace velnote {

namespace {

struct Keywords {
    std::string text; // application, services, screen types and descriptions, joined by spaces
    const std::vector<std::string>& screenTypes;

    bool contains(std::string_view word) const { return text.find(word) != std::string::npos; }
    bool hasScreenType(std::string_view type) const {
        return std::find(screenTypes.begin(), screenTypes.end(), type) != screenTypes.end();
    }
};

Keywords keywordsOf(const ActivityIntentInferenceService::IntentContext& context) {
    std::vector<std::string> parts{context.appName};
    parts.insert(parts.end(), context.services.begin(), context.services.end());
    parts.insert(parts.end(), context.screenTypes.begin(), context.screenTypes.end());
    parts.insert(parts.end(), context.descriptions.begin(), context.descriptions.end());
    return {.text = platform::joined(parts, " "), .screenTypes = context.screenTypes};
}

std::string text(std::string_view key, std::string_view english) {
    return L10n::localized(key, english);
}

const char* const kEnglishInstructions[] = {
    "You are an assistant that infers the user's work intent.",
    "From the given app operation log, infer what the user is trying to do (intent) and describe the work "
    "being performed (purpose).",
    "Respond ONLY in the following JSON format. No explanation needed.",
    R"({"intent": "verb phrase under 5 words", "purpose": "work description under 15 words"})",
    "Even when unsure, return both intent and purpose in English.",
    "",
    "Examples:",
    R"({"intent": "implementing code", "purpose": "building a new module and integrating it with existing systems"})",
    R"({"intent": "writing documentation", "purpose": "drafting a design document to share with stakeholders"})",
    R"({"intent": "browsing web", "purpose": "researching technical requirements to decide implementation strategy"})",
};

const char* const kJapaneseInstructions[] = {
    "あなたはユーザーの作業意図を推定するアシスタントです。",
    "与えられたアプリ操作ログから、ユーザーが「今何をしようとしているか（intent）」と「その作業内容（purpose"
    "）」を日本語で推定してください。",
    "必ず以下のJSON形式のみで回答してください。説明文は不要です。",
    R"({"intent": "20文字程度の動詞フレーズ", "purpose": "60〜100文字程度の作業内容説明"})",
    "不確実な場合でも、intent と purpose は空にせず、作業内容が伝わる日本語で返してください。",
    "",
    "例:",
    R"({"intent": "コード実装中", "purpose": "機能要件に沿って新しいモジュールを実装し、既存コードと統合する"})",
    R"({"intent": "ドキュメント作成中", "purpose": "仕様書を詳細に記述し、関係者に共有するための資料を作成する"})",
    R"({"intent": "Webで情報収集中", "purpose": "技術要件に関する情報を調査し、実装方針を決定する"})",
};

} // namespace

ActivityIntentInferenceService::ActivityIntentInferenceService(std::shared_ptr<OnDeviceLanguageModel> model)
    : model_(std::move(model)) {}

ActivityIntentInferenceService& ActivityIntentInferenceService::shared() {
    static auto* service = new ActivityIntentInferenceService(AppleFoundationModelService::shared().model());
    return *service;
}

std::string ActivityIntentInferenceService::instructions() {
    std::vector<std::string> lines;
    if (L10n::isJapanese()) {
        lines.assign(std::begin(kJapaneseInstructions), std::end(kJapaneseInstructions));
    } else {
        lines.assign(std::begin(kEnglishInstructions), std::end(kEnglishInstructions));
    }
    return platform::joined(lines, "\n");
}

std::string ActivityIntentInferenceService::prompt(const IntentContext& context) {
    std::string out = "アプリ: " + context.appName + " (" + context.bundleID + ")\n";
    std::vector<std::string> lines;
    if (!context.services.empty()) {
        lines.push_back("サービス: " + platform::joined(context.services, ", "));
    }
    if (!context.screenTypes.empty()) {
        lines.push_back("画面種別: " + platform::joined(context.screenTypes, ", "));
    }
    if (!lines.empty()) {
        out += platform::joined(lines, "\n") + "\n";
    }
    const auto& all = context.descriptions;
    const std::vector<std::string> firstSix(
        all.begin(), all.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(6, all.size())));
    return out + "画面操作の説明:\n- " + platform::joined(firstSix, "\n- ");
}

std::optional<ActivityIntentInferenceService::IntentResult>
ActivityIntentInferenceService::infer(const IntentContext& context, std::stop_token stop) const {
    if (!model_ || !model_->availability().isAvailable()) {
        return IntentResult{fallbackIntent(context), fallbackPurpose(context)};
    }
    std::string reply;
    try {
        reply = model_->respond(instructions(), prompt(context), stop);
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("ActivityEngine: Foundation Models inference failed: {}", e.what());
        return IntentResult{fallbackIntent(context), fallbackPurpose(context)};
    }
    return parseJSON(platform::trimWhitespace(reply), context);
}

ActivityIntentInferenceService::IntentResult
ActivityIntentInferenceService::parseJSON(const std::string& reply, const IntentContext& context) {
    static const platform::Regex object(R"(\{[^}]+\})");
    const IntentResult fallback{fallbackIntent(context), fallbackPurpose(context)};
    std::optional<platform::RegexMatch> match;
    try {
        match = object.search(reply);
    } catch (const platform::RegexError&) {
        return fallback;
    }
    if (!match) {
        return fallback;
    }
    std::optional<std::string> intent;
    std::optional<std::string> purpose;
    try {
        const platform::Json json = platform::parseJson(match->whole().text);
        intent = platform::optional<std::string>(json, "intent");
        purpose = platform::optional<std::string>(json, "purpose");
    } catch (const platform::JsonDecodeError& e) {
        VelnoteLogger::app().error("parseJSON: decode failed: {}", e.what());
        return fallback;
    }
    IntentResult result{platform::trimWhitespace(intent.value_or("")),
                        platform::trimWhitespace(purpose.value_or(""))};
    if (result.intent.empty()) {
        result.intent = fallback.intent;
    }
    if (result.purpose.empty()) {
        result.purpose = fallback.purpose;
    }
    return result;
}

std::string ActivityIntentInferenceService::fallbackIntent(const IntentContext& context) {
    const Keywords k = keywordsOf(context);
    if (k.contains("編集")) {
        return text("L10n.Activity.statusEditing", "Editing");
    }
    if (k.contains("作成")) {
        return text("L10n.Activity.statusCreating", "Creating");
    }
    if (k.contains("検索") || k.contains("調査")) {
        return text("L10n.Activity.statusResearching", "Researching");
    }
    if (k.contains("エラー") || k.contains("問題")) {
        return text("L10n.Activity.statusHandlingIssue", "Handling issue");
    }
    if (k.hasScreenType("chat")) {
        return text("L10n.Activity.statusChatting", "Chatting");
    }
    if (k.hasScreenType("editor")) {
        return text("L10n.Activity.statusEditing", "Editing");
    }
    if (k.hasScreenType("browser")) {
        return text("L10n.Activity.statusBrowsing", "Browsing");
    }
    if (!context.appName.empty()) {
        return L10n::localized("L10n.Activity.workingInApp", "Working in %@", {context.appName});
    }
    return text("L10n.Activity.statusWorking", "Working");
}

std::string ActivityIntentInferenceService::fallbackPurpose(const IntentContext& context) {
    const Keywords k = keywordsOf(context);
    if (k.contains("エラー") || k.contains("問題")) {
        return text("L10n.Activity.purposeHandlingIssue", "Investigating and resolving an issue");
    }
    if (k.contains("編集")) {
        return text("L10n.Activity.purposeEditing", "Editing files or documents");
    }
    if (k.contains("作成")) {
        return text("L10n.Activity.purposeCreating", "Creating materials or code");
    }
    if (k.contains("検索") || k.contains("調査")) {
        return text("L10n.Activity.purposeResearching", "Gathering and reviewing information");
    }
    const bool logService =
        std::any_of(context.services.begin(), context.services.end(), [](const std::string& s) {
            return s.find("activity_state") != std::string::npos ||
                   s.find("activity_log") != std::string::npos;
        });
    if (logService) {
        return text("L10n.Activity.purposeActivityLog", "Viewing or editing log files");
    }
    if (k.hasScreenType("editor")) {
        return text("L10n.Activity.purposeEditorWork", "Editing documents or code in an editor");
    }
    if (k.hasScreenType("chat")) {
        return text("L10n.Activity.purposeChatting", "Having a chat or conversation");
    }
    if (k.hasScreenType("browser")) {
        return text("L10n.Activity.purposeBrowsing", "Working while browsing web pages");
    }
    if (!context.appName.empty()) {
        return L10n::localized("L10n.Activity.purposeInApp", "Working in %@", {context.appName});
    }
    return text("L10n.Activity.purposeGeneral", "Summarizing work");
}

} // namespace velnote
