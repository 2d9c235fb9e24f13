#include "providers/cli/CopilotACPSession.h"

#include "platform/concurrency/CancellationError.h"
#include "platform/json/Json.h"
#include "platform/text/Characters.h"
#include "platform/text/Whitespace.h"
#include "providers/cli/CLISessionError.h"
#include "providers/cli/LineAssembler.h"
#include "providers/cli/SessionShutdown.h"
#include "providers/cli/ToolProcess.h"
#include "providers/core/RemoteAISummarizationError.h"
#include "session/VelnoteLogger.h"

#include <limits>

namespace velnote {
namespace {

using platform::Json;
using Kind = CLISessionError::Kind;

// JSON-RPC's code for a method the receiver does not offer.
constexpr int kMethodNotFound = -32601;

std::int32_t clampedCode(const Json& error) {
    const auto code = error.find("code");
    if (code == error.end() || !code->is_number_integer())
        return 1;
    const auto value = code->get<std::int64_t>();
    return std::in_range<std::int32_t>(value) ? static_cast<std::int32_t>(value) : 1;
}

// The member `key` of `json` when both are objects; nullptr otherwise.
const Json* objectMember(const Json& json, const char* key) {
    if (!json.is_object())
        return nullptr;
    const auto found = json.find(key);
    return found != json.end() && found->is_object() ? &*found : nullptr;
}

// The text member `key` of the object `json`; "" when absent or not text.
std::string textMember(const Json& json, const char* key) {
    const auto found = json.find(key);
    return found != json.end() && found->is_string() ? found->get<std::string>() : std::string();
}

} // namespace

CopilotACPSession::CopilotACPSession(std::chrono::milliseconds replyLimit) : replyLimit_(replyLimit) {}

CopilotACPSession::~CopilotACPSession() {
    stop();
}

void CopilotACPSession::start(const std::string& command, const std::vector<std::string>& extraArgs,
                              const std::string& effectivePATH, const std::string& cwd) {
    stop();
    std::vector<std::string> arguments{"--acp"};
    arguments.insert(arguments.end(), extraArgs.begin(), extraArgs.end());
    auto process = platform::ChildProcess::launch(toolProcessSpec(command, arguments, effectivePATH));
    {
        std::lock_guard lock(mutex_);
        process_ = std::move(process);
        command_ = command;
        sessionID_.reset();
        isRunning_ = true;
        reader_ = std::jthread([this](std::stop_token stop) { readLoop(std::move(stop)); });
    }
    try {
        std::unique_lock lock(mutex_);
        call(lock, "initialize", R"({"protocolVersion":1,"clientCapabilities":{}})", {});
        const std::string params = platform::toCompactJson(Json{{"cwd", cwd}, {"mcpServers", Json::array()}});
        const Json result = platform::parseJson(call(lock, "session/new", params, {}));
        if (!result.is_object() || !result.contains("sessionId") || !result["sessionId"].is_string())
            throw CLISessionError(Kind::terminated);
        sessionID_ = result["sessionId"].get<std::string>();
    } catch (...) {
        stop();
        throw;
    }
}

void CopilotACPSession::stop() {
    stopSession(reader_, mutex_, isRunning_, pending_, process_);
}

bool CopilotACPSession::running() const {
    std::lock_guard lock(mutex_);
    return isRunning_ && process_ && process_->isRunning();
}

std::string CopilotACPSession::send(const std::string& userText, std::stop_token stop) {
    std::unique_lock lock(mutex_);
    if (!isRunning_ || !process_ || !process_->isRunning() || !sessionID_)
        throw CLISessionError(Kind::notRunning);
    if (pending_.isOpen())
        throw CLISessionError(Kind::busy);
    if (!platform::isValidUtf8(userText)) {
        VelnoteLogger::processing().error("CopilotACPSession: failed to serialize JSON: {}",
                                          "the text is not UTF-8");
        throw CLISessionError(Kind::encodingFailed);
    }
    messageAccumulator_.clear();
    const Json params{{"sessionId", *sessionID_},
                      {"prompt", Json::array({Json{{"type", "text"}, {"text", userText}}})}};
    return call(lock, "session/prompt", platform::toCompactJson(params), std::move(stop));
}

std::string CopilotACPSession::call(std::unique_lock<std::mutex>& lock, const std::string& method,
                                    const std::string& paramsJson, std::stop_token stop) {
    if (pending_.isOpen())
        throw CLISessionError(Kind::busy);
    const std::int64_t id = nextID_++;
    awaitedID_ = id;
    awaitingPrompt_ = method == "session/prompt";
    pending_.open();
    const std::string line = R"({"id":)" + std::to_string(id) + R"(,"jsonrpc":"2.0","method":)" +
                             platform::toCompactJson(Json(method)) + R"(,"params":)" + paramsJson + "}\n";
    const auto deadline = ReplySlot::Clock::now() + replyLimit_;
    try {
        sendJSON(line, deadline);
    } catch (...) {
        pending_.close();
        throw;
    }
    return pending_.wait(lock, deadline, std::move(stop));
}

void CopilotACPSession::sendJSON(const std::string& line, ReplySlot::Clock::time_point deadline) {
    switch (process_->sendInput(line, deadline)) {
    case platform::ChildProcess::InputWrite::written:
        return;
    case platform::ChildProcess::InputWrite::closed:
        VelnoteLogger::processing().error("CopilotACPSession: failed to write to stdin: {}",
                                          "the input is closed");
        throw CLISessionError(Kind::terminated);
    case platform::ChildProcess::InputWrite::deadlinePassed:
        // Part of a message may have gone: the conversation cannot go on.
        isRunning_ = false;
        process_->forceKill();
        throw CLISessionError(Kind::timeout);
    }
}

void CopilotACPSession::readLoop(std::stop_token stop) {
    LineAssembler lines;
    try {
        while (auto chunk = process_->nextChunk(platform::ChildProcess::Stream::standardOutput, stop)) {
            std::vector<std::string> replies;
            {
                std::lock_guard lock(mutex_);
                for (const auto& line : lines.push(*chunk))
                    handleLine(line, replies);
            }
            for (const auto& reply : replies)
                process_->sendInput(reply, ReplySlot::Clock::now() + replyLimit_);
        }
    } catch (const platform::CancellationError&) {
        return; // stop() ends the session itself
    } catch (const LineTooLongError& e) {
        VelnoteLogger::processing().error("CopilotACPSession: the tool wrote {}; it is stopped", e.what());
        process_->forceKill();
    }
    std::lock_guard lock(mutex_);
    markSessionEnded(isRunning_, pending_);
}

void CopilotACPSession::handleLine(const std::string& line, std::vector<std::string>& replies) {
    Json message;
    try {
        message = platform::parseJson(line);
    } catch (const platform::JsonDecodeError& e) {
        if (!platform::isBlank(line))
            VelnoteLogger::processing().error("CopilotACPSession: cannot parse an output line: {}", e.what());
        return;
    }
    if (!message.is_object())
        return;
    if (const auto method = message.find("method"); method != message.end()) {
        if (const auto id = message.find("id"); id != message.end()) {
            const Json refusal{
                {"jsonrpc", "2.0"},
                {"id", *id},
                {"error", Json{{"code", kMethodNotFound}, {"message", "not offered by this client"}}}};
            replies.push_back(platform::toCompactJson(refusal) + "\n");
            return;
        }
        if (*method != "session/update" || !awaitingPrompt_ || !pending_.isOpen())
            return;
        const Json* params = objectMember(message, "params");
        const Json* update = params ? objectMember(*params, "update") : nullptr;
        const Json* content = update ? objectMember(*update, "content") : nullptr;
        if (content && textMember(*update, "sessionUpdate") == "agent_message_chunk" &&
            textMember(*content, "type") == "text")
            appendBounded(messageAccumulator_, textMember(*content, "text"));
        return;
    }
    const auto id = message.find("id");
    if (id == message.end() || !id->is_number_integer())
        return;
    if (id->get<std::int64_t>() != awaitedID_ || !pending_.isOpen()) {
        // The response to a request that gave up waiting: the chunks before it were its own.
        messageAccumulator_.clear();
        return;
    }
    if (const auto error = message.find("error"); error != message.end() && error->is_object()) {
        const std::string text = textMember(*error, "message");
        pending_.fail(std::make_exception_ptr(
            RemoteAISummarizationError::cliFailed(command_, clampedCode(*error), text)));
        return;
    }
    if (!awaitingPrompt_) {
        pending_.deliver(platform::toCompactJson(message.value("result", Json())));
        return;
    }
    std::string answer = platform::trimWhitespace(messageAccumulator_);
    if (answer.empty()) {
        pending_.fail(std::make_exception_ptr(RemoteAISummarizationError::emptyResponse()));
        return;
    }
    pending_.deliver(std::move(answer));
}

} // namespace velnote
