#include "context/activity/inference/ScreenInference.h"

#include "context/activity/inference/TimeLimit.h"
#include "platform/text/CaseMapping.h"
#include "platform/text/Characters.h"
#include "platform/text/Regex.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"

#include <algorithm>
#include <set>

namespace velnote {

using platform::Json;

void to_json(Json& json, const VisionInference& inference) {
    json = Json::object();
    json["service"] = inference.service;
    json["screen_type"] = inference.screenType;
    platform::setIfPresent(json, "entity", inference.entity);
    json["confidence"] = inference.confidence;
    json["description"] = inference.description;
}

ScreenInference::ScreenInference(Dependencies dependencies) : dependencies_(std::move(dependencies)) {
    if (!dependencies_.timers) {
        dependencies_.timers = &platform::TimerScheduler::shared();
    }
}

std::pair<std::vector<StructuredTextRegion>, int>
ScreenInference::fetchVisionOCR(const platform::RgbImage& screenshot,
                                const platform::RgbImage* currentThumbnail,
                                const platform::RgbImage* previousThumbnail, std::stop_token stop) const {
    using Result = std::pair<std::vector<StructuredTextRegion>, int>;
    return withTimeLimit<Result>(kOCRTimeLimitSeconds, *dependencies_.timers, std::move(stop),
                                 [&](std::stop_token token) {
                                     return dependencies_.ocr->extractStructuredTextRegions(
                                         screenshot, currentThumbnail, previousThumbnail, 100, 20, token);
                                 });
}

ScreenshotInferenceResult
ScreenInference::fetchVisionLLMInference(const std::optional<std::string>& windowTitle,
                                         const std::vector<StructuredTextRegion>& regions, int saliencyCount,
                                         std::stop_token stop) const {
    ScreenshotInferenceResult result{.regions = regions, .saliencyRegionCount = saliencyCount};
    const std::string system = visionSystemPrompt();
    const std::string user = makeVisionPrompt(windowTitle, regions);
    try {
        const std::string reply = withTimeLimit<std::string>(
            kModelTimeLimitSeconds, *dependencies_.timers, std::move(stop),
            [&](std::stop_token token) { return dependencies_.model(system, user, token); });
        result.inference = parseVisionInference(reply);
    } catch (const std::exception& e) {
        const std::string reason = isInferenceTimeout(e) ? "timeout" : e.what();
        result.inference = {.service = "unknown",
                            .screenType = "unknown",
                            .confidence = 0,
                            .description = "Inference failed: " + reason};
    }
    return result;
}

namespace {

std::string normalizedRegionText(const std::vector<StructuredTextRegion>& regions) {
    std::vector<std::string> pieces;
    for (std::size_t i = 0; i < regions.size() && i < 10; ++i) {
        const auto words =
            platform::splitOnWhitespace(platform::lowercased(platform::trimWhitespace(regions[i].text)));
        std::string joined;
        for (const auto& word : words) {
            joined += joined.empty() ? word : " " + word;
        }
        pieces.push_back(joined);
    }
    std::string out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        out += i == 0 ? pieces[i] : " " + pieces[i];
    }
    return out;
}

std::string withoutWhitespace(std::string_view text) {
    std::string out;
    for (const auto& word : platform::splitOnWhitespace(text)) {
        out += word;
    }
    return out;
}

} // namespace

double regionSimilarityBetween(const std::vector<StructuredTextRegion>& a,
                               const std::vector<StructuredTextRegion>& b) {
    const std::string left = normalizedRegionText(a);
    const std::string right = normalizedRegionText(b);
    // Screens without any text give no evidence that they are the same screen.
    if (platform::isBlank(left) || platform::isBlank(right)) {
        return 0;
    }
    return regionTextSimilarity(left, right);
}

double regionTextSimilarity(std::string_view a, std::string_view b) {
    const std::string left = withoutWhitespace(a);
    const std::string right = withoutWhitespace(b);
    const auto leftChars = platform::splitCharacters(left);
    const auto rightChars = platform::splitCharacters(right);
    if (leftChars.size() < 2 || rightChars.size() < 2) {
        return left == right ? 1 : 0;
    }
    auto bigrams = [](const std::vector<std::string_view>& chars) {
        std::set<std::string> out;
        for (std::size_t i = 0; i + 1 < chars.size(); ++i) {
            out.insert(std::string(chars[i]) + '\0' + std::string(chars[i + 1]));
        }
        return out;
    };
    const auto x = bigrams(leftChars);
    const auto y = bigrams(rightChars);
    std::size_t shared = 0;
    for (const auto& pair : x) {
        shared += y.count(pair);
    }
    const std::size_t all = x.size() + y.size() - shared;
    return all == 0 ? 0 : static_cast<double>(shared) / static_cast<double>(all);
}

std::string makeVisionInput(const std::optional<std::string>& title,
                            const std::vector<StructuredTextRegion>& regions) {
    std::string name = platform::trimWhitespace(title.value_or(""));
    if (name.empty()) {
        name = "Unknown";
    }
    Json texts = Json::array();
    for (std::size_t i = 0; i < regions.size() && i < 10; ++i) {
        texts.push_back(regions[i].text);
    }
    std::string out =
        platform::toPrettyJson(Json{{"app", name}, {"window_title", name}, {"top_texts", texts}});
    if (!out.empty() && out.back() == '\n') {
        out.pop_back();
    }
    return out;
}

std::string visionSystemPrompt() {
    if (L10n::isJapanese()) {
        return "あなたは画面の種類とサービス名を推測するアシスタントです。";
    }
    return "You are an assistant that infers the screen type and service name from window title and "
           "structured screen "
           "text.";
}

std::string makeVisionPrompt(const std::optional<std::string>& title,
                             const std::vector<StructuredTextRegion>& regions) {
    std::string description;
    if (L10n::isJapanese()) {
        description =
            "description: ユーザーが画面上で何をしているかを日本語で詳細に説明してください。 "
            "画面から読み取れる操作対象、ファイル名、URL、表示中のコンテンツ、入力中のテキスト、選択中の項目"
            "などを含め、ユーザーが行っている作業を40〜100字程度で記述してください。";
    } else {
        description =
            "description: provide a detailed description of what the user is doing, including visible "
            "app/window title, target file/URL/content, selected item, input text, UI elements, and "
            "on-screen context; write 40-80 words.";
    }
    return "From the following screen information, identify the app/service and screen type.\nInput: " +
           makeVisionInput(title, regions) +
           "\nOutput ONLY a single JSON object with these keys:\n- service: app or service name\n- "
           "screen_type: type "
           "of screen (e.g. editor, browser, chat, dashboard)\n- entity: main subject shown (document name, "
           "URL, "
           "person name, etc.)\n- confidence: 0.0-1.0\n- " +
           description + "\n\nDo not output any other text.";
}

namespace {

std::string removingAll(std::string text, std::string_view what) {
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at)) {
        text.erase(at, what.size());
    }
    return text;
}

bool parsesAsObject(const std::string& text) {
    try {
        return platform::parseJson(text).is_object();
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

std::optional<std::string> normalizedJSONPayload(std::string_view rawText) {
    const std::string text =
        platform::trimWhitespace(removingAll(removingAll(std::string(rawText), "```json"), "```"));
    if (parsesAsObject(text)) {
        return text;
    }
    try {
        static const platform::Regex object(R"(\{(?:[^{}]|\{[^{}]*\})*\})",
                                            {.dotMatchesLineSeparators = true});
        if (const auto match = object.search(text)) {
            return match->whole().text;
        }
    } catch (const platform::RegexError& e) {
        VelnoteLogger::app().error("normalizedJSONPayload: failed to compile regex: {}", e.what());
    }
    return std::nullopt;
}

namespace {

std::optional<std::string> firstText(const Json& object, std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
        const auto found = object.find(key);
        if (found != object.end() && found->is_string()) {
            return found->get<std::string>();
        }
    }
    return std::nullopt;
}

} // namespace

VisionInference parseVisionInference(std::string_view rawText) {
    const VisionInference fallback{.service = "unknown",
                                   .screenType = "unknown",
                                   .confidence = 0,
                                   .description = "Unable to parse inference result."};
    const auto payload = normalizedJSONPayload(rawText);
    if (!payload) {
        return fallback;
    }
    Json object;
    try {
        object = platform::parseJson(*payload);
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("parseVisionInference: failed to parse JSON: {}", e.what());
        return fallback;
    }
    if (!object.is_object()) {
        return fallback;
    }
    double confidence = 0;
    if (const auto found = object.find("confidence"); found != object.end() && found->is_number()) {
        confidence = std::clamp(found->get<double>(), 0.0, 1.0);
    }
    return {.service = firstText(object, {"service", "app"}).value_or("unknown"),
            .screenType = firstText(object, {"screen_type", "screenType", "type"}).value_or("unknown"),
            .entity = firstText(object, {"entity"}),
            .confidence = confidence,
            .description = firstText(object, {"description", "desc"}).value_or("")};
}

} // namespace velnote
