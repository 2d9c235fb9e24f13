#include "providers/chat/ChatWireFormats.h"

#include <gtest/gtest.h>

namespace velnote::chatwire {
namespace {

using platform::Json;
using Texts = std::vector<std::string>;

TEST(ChatWireFormatsTest, OpenAIRequestCarriesTheSchemaOnlyWhenAsked) {
    const Json plain = openAIChatRequest("m", "", "u", false);
    EXPECT_FALSE(plain.contains("response_format"));
    EXPECT_EQ(plain["messages"],
              Json::parse(R"([{"role":"system","content":""},{"role":"user","content":"u"}])"));
    EXPECT_DOUBLE_EQ(plain["temperature"].get<double>(), 0.2);

    const Json withSchema = openAIChatRequest("m", "s", "u", true);
    EXPECT_EQ(withSchema["response_format"], structuredSummarySchema());
    const Json& schema = withSchema["response_format"]["json_schema"];
    EXPECT_EQ(withSchema["response_format"]["type"], "json_schema");
    EXPECT_EQ(schema["name"], "summary_schema");
    EXPECT_EQ(schema["strict"], true);
    EXPECT_EQ(schema["schema"]["required"], Json::parse(R"(["title","sections"])"));
    const Json& section = schema["schema"]["properties"]["sections"]["items"];
    EXPECT_EQ(section["required"], Json::parse(R"(["heading","format","content"])"));
    EXPECT_EQ(section["additionalProperties"], false);
    EXPECT_EQ(section["properties"]["format"], Json::parse(R"({"type":"string"})"));
    // Compact on the wire, and the number reads back as 0.2.
    const std::string wire = platform::toCompactJson(withSchema);
    EXPECT_EQ(wire.find('\n'), std::string::npos);
    EXPECT_DOUBLE_EQ(Json::parse(wire)["temperature"].get<double>(), 0.2);
}

TEST(ChatWireFormatsTest, ClaudeAndGeminiRequestsFollowTheirApis) {
    EXPECT_EQ(claudeRequest("c", "", "u"), Json::parse(R"({"model":"c","max_tokens":2000,"system":"",
                              "messages":[{"role":"user","content":[{"type":"text","text":"u"}]}]})"));
    const Json noSystem = geminiChatRequest("", "u");
    EXPECT_EQ(noSystem, Json::parse(R"({"contents":[{"role":"user","parts":[{"text":"u"}]}],
                                        "generationConfig":{"temperature":0.2}})"));
    EXPECT_EQ(geminiChatRequest("   ", "u")["systemInstruction"],
              Json::parse(R"({"parts":[{"text":"   "}]})"));
}

TEST(ChatWireFormatsTest, OpenAIRepliesYieldTheFirstContentOrNothing) {
    EXPECT_EQ(openAIChatResponseText(R"({"choices":[{"message":{"content":"A"}},{"message":{"content":"B"}}],
                                         "usage":{"total_tokens":3}})"),
              "A");
    EXPECT_EQ(openAIChatResponseText(R"({"choices":[{"message":{"content":null}}]})"), std::nullopt);
    EXPECT_EQ(openAIChatResponseText(R"({"choices":[{"message":{"role":"assistant"}}]})"), std::nullopt);
    EXPECT_EQ(openAIChatResponseText(R"({"choices":[]})"), std::nullopt);
    for (const char* unreadable :
         {R"({"id":"x"})", R"({"choices":[{"message":{"content":[{"type":"text"}]}}]})",
          R"({"choices":[{"message":{"content":"A"}},{"text":"B"}]})", "", "[]", R"({"choices":null})"})
        EXPECT_THROW(openAIChatResponseText(unreadable), platform::JsonDecodeError) << unreadable;
}

TEST(ChatWireFormatsTest, ClaudeRepliesYieldEveryTextBlockInOrder) {
    EXPECT_EQ(
        claudeResponseTexts(R"({"content":[{"type":"thinking","thinking":"hm"},{"type":"text","text":"A"},
                                                 {"type":"text"},{"type":"text","text":"B"},
                                                 {"type":"Text","text":"C"}],"id":"m"})"),
        (Texts{"A", "B"}));
    EXPECT_EQ(claudeResponseTexts(R"({"content":[]})"), Texts{});
    EXPECT_THROW(claudeResponseTexts(R"({"content":[{"text":"A"}]})"), platform::JsonDecodeError);
    EXPECT_THROW(claudeResponseTexts(R"({"type":"message"})"), platform::JsonDecodeError);
}

TEST(ChatWireFormatsTest, GeminiRepliesReadOnlyTheFirstCandidate) {
    EXPECT_EQ(
        geminiResponseTexts(R"({"candidates":[{"content":{"parts":[{"text":"A"},{"inline":1},{"text":"B"}]},
                                                     "safetyRatings":[]},
                                                    {"content":{"parts":[{"text":"C"}]}}]})"),
        (Texts{"A", "B"}));
    EXPECT_EQ(geminiResponseTexts(R"({"promptFeedback":{"blockReason":"SAFETY"}})"), Texts{});
    EXPECT_EQ(geminiResponseTexts(R"({"candidates":[{"finishReason":"SAFETY"}]})"), Texts{});
    EXPECT_EQ(geminiResponseTexts(R"({"candidates":null})"), Texts{});
    EXPECT_THROW(geminiResponseTexts(R"({"candidates":{"content":{}}})"), platform::JsonDecodeError);
}

} // namespace
} // namespace velnote::chatwire
