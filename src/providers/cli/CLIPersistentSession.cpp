#include "providers/cli/CLIPersistentSession.h"

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

namespace velnote {
namespace {

using platform::Json;
using Kind = CLISessionError::Kind;

} // namespace

CLIPersistentSession::CLIPersistentSession(std::chrono::milliseconds replyLimit) : replyLimit_(replyLimit) {}

CLIPersistentSession::~CLIPersistentSession() {
    stop();
}

void CLIPersistentSession::start(const std::string& command, const std::vector<std::string>& extraArgs,
                                 const std::string& effectivePATH) {
    stop();
    std::vector<std::string> arguments{"--print",         "--input-format", "stream-json",
                                       "--output-format", "stream-json",    "--verbose"};
    arguments.insert(arguments.end(), extraArgs.begin(), extraArgs.end());
    auto process = platform::ChildProcess::launch(toolProcessSpec(command, arguments, effectivePATH));
    std::lock_guard lock(mutex_);
    process_ = std::move(process);
    command_ = command;
    staleAnswers_ = 0;
    isRunning_ = true;
    reader_ = std::jthread([this](std::stop_token stop) { readLoop(std::move(stop)); });
}

void CLIPersistentSession::stop() {
    stopSession(reader_, mutex_, isRunning_, pending_, process_);
}

bool CLIPersistentSession::running() const {
    std::lock_guard lock(mutex_);
    return isRunning_ && process_ && process_->isRunning();
}

std::string CLIPersistentSession::encodeUserMessage(const std::string& userText) {
    if (!platform::isValidUtf8(userText)) {
        VelnoteLogger::processing().error("CLIPersistentSession: failed to serialize message: {}",
                                          "the text is not UTF-8");
        throw CLISessionError(Kind::encodingFailed);
    }
    const Json content = Json::array({Json{{"type", "text"}, {"text", userText}}});
    const Json message{{"type", "user"}, {"message", Json{{"role", "user"}, {"content", content}}}};
    return platform::toCompactJson(message) + "\n";
}

std::string CLIPersistentSession::send(const std::string& userText, std::stop_token stop) {
    std::unique_lock lock(mutex_);
    if (!isRunning_ || !process_ || !process_->isRunning())
        throw CLISessionError(Kind::notRunning);
    if (pending_.isOpen())
        throw CLISessionError(Kind::busy);
    lastAssistantText_.clear();
    const std::string line = encodeUserMessage(userText);
    pending_.open();
    const auto deadline = ReplySlot::Clock::now() + replyLimit_;
    switch (process_->sendInput(line, deadline)) {
    case platform::ChildProcess::InputWrite::written:
        break;
    case platform::ChildProcess::InputWrite::closed:
        pending_.close();
        VelnoteLogger::processing().error("CLIPersistentSession: failed to write to stdin: {}",
                                          "the input is closed");
        throw CLISessionError(Kind::terminated);
    case platform::ChildProcess::InputWrite::deadlinePassed:
        // Part of a line may have gone: the conversation cannot go on.
        pending_.close();
        isRunning_ = false;
        process_->forceKill();
        throw CLISessionError(Kind::timeout);
    }
    try {
        return pending_.wait(lock, deadline, std::move(stop));
    } catch (const CLISessionError& e) {
        if (e.kind() == Kind::timeout)
            ++staleAnswers_;
        throw;
    } catch (const platform::CancellationError&) {
        ++staleAnswers_;
        throw;
    }
}

void CLIPersistentSession::readLoop(std::stop_token stop) {
    LineAssembler lines;
    try {
        while (auto chunk = process_->nextChunk(platform::ChildProcess::Stream::standardOutput, stop)) {
            const auto complete = lines.push(*chunk);
            std::lock_guard lock(mutex_);
            for (const auto& line : complete)
                handleLine(line);
        }
    } catch (const platform::CancellationError&) {
        return; // stop() ends the session itself
    } catch (const LineTooLongError& e) {
        VelnoteLogger::processing().error("CLIPersistentSession: the tool wrote {}; it is stopped", e.what());
        process_->forceKill();
    }
    std::lock_guard lock(mutex_);
    markSessionEnded(isRunning_, pending_);
}

void CLIPersistentSession::handleLine(const std::string& line) {
    Json event;
    try {
        event = platform::parseJson(line);
    } catch (const platform::JsonDecodeError& e) {
        if (!platform::isBlank(line))
            VelnoteLogger::processing().error("CLIPersistentSession: cannot parse an output line: {}",
                                              e.what());
        return;
    }
    if (!event.is_object() || !event.contains("type") || !event["type"].is_string())
        return;
    const std::string type = event["type"];
    if (type == "assistant") {
        const Json* content = nullptr;
        if (const auto message = event.find("message"); message != event.end() && message->is_object()) {
            if (const auto found = message->find("content"); found != message->end() && found->is_array())
                content = &*found;
        }
        for (const auto& block : content ? *content : Json::array()) {
            if (!block.is_object())
                continue;
            const auto blockType = block.find("type");
            const auto text = block.find("text");
            if (blockType != block.end() && *blockType == "text" && text != block.end() && text->is_string())
                appendBounded(lastAssistantText_, text->get<std::string>());
        }
        return;
    }
    if (type != "result")
        return;
    if (staleAnswers_ > 0) {
        // The answer of a turn that gave up; what came before it was that turn's text too.
        --staleAnswers_;
        lastAssistantText_.clear();
        return;
    }
    const auto result = event.find("result");
    const std::string resultText =
        result != event.end() && result->is_string() ? result->get<std::string>() : "";
    if (const auto flag = event.find("is_error");
        flag != event.end() && flag->is_boolean() && flag->get<bool>()) {
        pending_.fail(std::make_exception_ptr(RemoteAISummarizationError::cliFailed(
            command_, 1,
            resultText.empty() ? "claude CLI reported an error with no result text" : resultText)));
        return;
    }
    std::string answer =
        platform::trimWhitespace(platform::isBlank(resultText) ? lastAssistantText_ : resultText);
    if (answer.empty()) {
        pending_.fail(std::make_exception_ptr(RemoteAISummarizationError::emptyResponse()));
        return;
    }
    pending_.deliver(std::move(answer));
}

} // namespace velnote
