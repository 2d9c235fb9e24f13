#pragma once

#include "platform/json/Json.h"
#include "support/LoopbackServer.h"

#include <string>

namespace velnote::testing {

// The two texts of one OpenAI-compatible chat request a LoopbackServer received.
struct ChatCall {
    std::string system;
    std::string user;
};

inline ChatCall chatCallOf(const RecordedRequest& request) {
    const auto body = platform::Json::parse(request.body);
    return {body["messages"][0]["content"].get<std::string>(),
            body["messages"][1]["content"].get<std::string>()};
}

inline CannedReply openAIAnswer(const std::string& content) {
    return CannedReply::ok(platform::Json{
        {"choices", platform::Json::array({platform::Json{
                        {"message", platform::Json{{"role", "assistant"}, {"content", content}}}}})}}
                               .dump());
}

// What a chat API answers to a prompt larger than its model's context window.
inline CannedReply contextLimitAnswer() {
    return CannedReply::with(400,
                             R"({"error":{"message":"This model's maximum context length is 8192 tokens"}})");
}

} // namespace velnote::testing
