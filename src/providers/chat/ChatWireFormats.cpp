#include "providers/chat/ChatWireFormats.h"

namespace velnote::chatwire {

using platform::Json;

namespace {

constexpr double kTemperature = 0.2;

Json stringType() {
    return Json{{"type", "string"}};
}

// Decodes every element, so a malformed later element fails the reply as the whole array would.
template <class F> void forEachObject(const Json& array, F&& read) {
    for (std::size_t i = 0; i < array.size(); ++i) {
        try {
            read(array[i], i);
        } catch (const platform::JsonDecodeError& e) {
            throw e.under("[" + std::to_string(i) + "]");
        }
    }
}

std::optional<Json> optionalArray(const Json& object, std::string_view key) {
    auto value = platform::optional<Json>(object, key);
    if (value && !value->is_array())
        throw platform::JsonDecodeError(std::string(key), "expected an array");
    return value;
}

Json requiredArray(const Json& object, std::string_view key) {
    auto value = platform::required<Json>(object, key);
    if (!value.is_array())
        throw platform::JsonDecodeError(std::string(key), "expected an array");
    return value;
}

Json requiredObject(const Json& object, std::string_view key) {
    auto value = platform::required<Json>(object, key);
    if (!value.is_object())
        throw platform::JsonDecodeError(std::string(key), "expected an object");
    return value;
}

std::optional<Json> optionalObject(const Json& object, std::string_view key) {
    auto value = platform::optional<Json>(object, key);
    if (value && !value->is_object())
        throw platform::JsonDecodeError(std::string(key), "expected an object");
    return value;
}

Json parseObject(std::string_view body) {
    Json json = platform::parseJson(body);
    if (!json.is_object())
        throw platform::JsonDecodeError("", "expected an object");
    return json;
}

} // namespace

Json openAIChatRequest(std::string_view model, std::string_view systemPrompt, std::string_view userPrompt,
                       bool jsonSchema) {
    Json request{{"model", model},
                 {"messages", Json::array({Json{{"role", "system"}, {"content", systemPrompt}},
                                           Json{{"role", "user"}, {"content", userPrompt}}})},
                 {"temperature", kTemperature}};
    if (jsonSchema)
        request["response_format"] = structuredSummarySchema();
    return request;
}

Json claudeRequest(std::string_view model, std::string_view systemPrompt, std::string_view userPrompt) {
    const Json content = Json::array({Json{{"type", "text"}, {"text", userPrompt}}});
    return Json{{"model", model},
                {"max_tokens", 2000},
                {"system", systemPrompt},
                {"messages", Json::array({Json{{"role", "user"}, {"content", content}}})}};
}

Json geminiChatRequest(std::string_view systemPrompt, std::string_view userPrompt) {
    Json request{
        {"contents", Json::array({Json{{"role", "user"}, {"parts", Json::array({{{"text", userPrompt}}})}}})},
        {"generationConfig", Json{{"temperature", kTemperature}}}};
    if (!systemPrompt.empty())
        request["systemInstruction"] = Json{{"parts", Json::array({{{"text", systemPrompt}}})}};
    return request;
}

Json structuredSummarySchema() {
    const Json section{
        {"type", "object"},
        {"properties", Json{{"heading", stringType()}, {"format", stringType()}, {"content", stringType()}}},
        {"required", Json::array({"heading", "format", "content"})},
        {"additionalProperties", false}};
    const Json schema{{"type", "object"},
                      {"properties", Json{{"title", stringType()},
                                          {"sections", Json{{"type", "array"}, {"items", section}}}}},
                      {"required", Json::array({"title", "sections"})},
                      {"additionalProperties", false}};
    return Json{{"type", "json_schema"},
                {"json_schema", Json{{"name", "summary_schema"}, {"strict", true}, {"schema", schema}}}};
}

std::optional<std::string> openAIChatResponseText(std::string_view body) {
    const Json response = parseObject(body);
    const Json choices = requiredArray(response, "choices");
    std::optional<std::string> first;
    try {
        forEachObject(choices, [&](const Json& choice, std::size_t index) {
            const Json message = requiredObject(choice, "message");
            auto content = platform::optional<std::string>(message, "content");
            if (index == 0)
                first = std::move(content);
        });
    } catch (const platform::JsonDecodeError& e) {
        throw e.under("choices");
    }
    return first;
}

std::vector<std::string> claudeResponseTexts(std::string_view body) {
    const Json response = parseObject(body);
    std::vector<std::string> texts;
    try {
        forEachObject(requiredArray(response, "content"), [&](const Json& block, std::size_t) {
            const auto type = platform::required<std::string>(block, "type");
            auto text = platform::optional<std::string>(block, "text");
            if (type == "text" && text)
                texts.push_back(std::move(*text));
        });
    } catch (const platform::JsonDecodeError& e) {
        throw e.under("content");
    }
    return texts;
}

std::vector<std::string> geminiResponseTexts(std::string_view body) {
    const Json response = parseObject(body);
    const auto candidates = optionalArray(response, "candidates");
    std::vector<std::string> texts;
    if (!candidates)
        return texts;
    try {
        forEachObject(*candidates, [&](const Json& candidate, std::size_t index) {
            const auto content = optionalObject(candidate, "content");
            const auto parts = content ? optionalArray(*content, "parts") : std::nullopt;
            if (parts) {
                forEachObject(*parts, [&](const Json& part, std::size_t) {
                    auto text = platform::optional<std::string>(part, "text");
                    if (index == 0 && text)
                        texts.push_back(std::move(*text));
                });
            }
        });
    } catch (const platform::JsonDecodeError& e) {
        throw e.under("candidates");
    }
    return texts;
}

} // namespace velnote::chatwire
