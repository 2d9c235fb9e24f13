#pragma once

#include "platform/json/Json.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnote::chatwire {

// The request bodies of the three chat API families: one system text, one user text, one turn.
// Written with platform::toCompactJson.

// OpenAI-compatible chat completions: the system message always comes first, also when empty;
// temperature 0.2; "response_format" carries structuredSummarySchema() only with `jsonSchema`.
platform::Json openAIChatRequest(std::string_view model, std::string_view systemPrompt,
                                 std::string_view userPrompt, bool jsonSchema);
// Anthropic messages: "system" always present; "max_tokens" 2000; no temperature.
platform::Json claudeRequest(std::string_view model, std::string_view systemPrompt,
                             std::string_view userPrompt);
// Gemini generateContent: "systemInstruction" exactly when the system text is not empty (blanks
// count as text); "generationConfig" with temperature 0.2.
platform::Json geminiChatRequest(std::string_view systemPrompt, std::string_view userPrompt);

// The "response_format" that asks for the summary JSON (a title and sections of heading, format
// and content), strict, named "summary_schema". Built fresh on each call.
platform::Json structuredSummarySchema();

// The replies, read leniently: unknown members are ignored, members that may be absent may also
// be null, and a required member that is missing, null or of another type makes the whole reply
// unreadable (platform::JsonDecodeError, also for text that is not JSON at all).

// The first choice's message content; none when there is no choice or no content.
std::optional<std::string> openAIChatResponseText(std::string_view body);
// The "text" of every block whose "type" is exactly "text" and which has one, in order.
std::vector<std::string> claudeResponseTexts(std::string_view body);
// The texts of the first candidate's parts that have one; none without candidates, content or parts.
std::vector<std::string> geminiResponseTexts(std::string_view body);

} // namespace velnote::chatwire
