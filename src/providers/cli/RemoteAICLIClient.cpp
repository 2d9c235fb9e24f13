#include "providers/cli/RemoteAICLIClient.h"

#include "platform/concurrency/CancellationError.h"
#include "platform/flavor/BuildFlavor.h"
#include "platform/json/Json.h"
#include "platform/process/ChildProcess.h"
#include "platform/text/CaseMapping.h"
#include "platform/text/Characters.h"
#include "platform/text/Split.h"
#include "platform/text/Whitespace.h"
#include "providers/cli/LineAssembler.h"
#include "providers/cli/ToolProcess.h"
#include "providers/core/RemoteAISummarizationError.h"
#include "session/VelnoteLogger.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace velnote {
namespace {

using Args = std::vector<std::string>;
using Stream = platform::ChildProcess::Stream;
using Clock = platform::ChildProcess::Clock;

constexpr const char* kPromptPlaceholder = "{prompt}";
constexpr const char* kCopilotDefaultArgs = "-p {prompt} -s --allow-all-tools";
constexpr const char* kAntigravityDefaultArgs = "-p {prompt} --dangerously-skip-permissions";

bool contains(const Args& args, std::string_view value) {
    return std::find(args.begin(), args.end(), value) != args.end();
}

bool containsAny(const Args& args, std::initializer_list<std::string_view> values) {
    return std::any_of(values.begin(), values.end(), [&](std::string_view v) { return contains(args, v); });
}

Args lowercasedCopy(const Args& args) {
    Args lower;
    for (const auto& arg : args)
        lower.push_back(platform::lowercased(arg));
    return lower;
}

Args splitWithPrompt(const std::string& raw, const std::string& prompt) {
    Args args = platform::splitOnWhitespace(raw);
    std::replace(args.begin(), args.end(), std::string(kPromptPlaceholder), prompt);
    return args;
}

std::string utf8OrEmpty(std::string bytes) {
    return platform::isValidUtf8(bytes) ? std::move(bytes) : std::string();
}

std::string builtInCommand(SummaryProvider provider) {
    switch (provider) {
    case SummaryProvider::claudeCLI:
        return "claude";
    case SummaryProvider::copilotCLI:
        return "copilot";
    case SummaryProvider::antigravityCLI:
        return "agy";
    default:
        return "";
    }
}

// The tool as a child: an absolute command runs directly, any other through /usr/bin/env on
// `path` (the Copilot stream always goes through /usr/bin/env).
std::unique_ptr<platform::ChildProcess> launchTool(const std::string& command, const Args& args,
                                                   const std::string& path, ToolLookup lookup,
                                                   const ProviderEnvironment& environment) {
    // /usr/bin/env without a command would print the whole environment as the "answer".
    if (platform::isBlank(command))
        throw platform::ProcessLaunchError(ENOENT, "an empty command");
    platform::ProcessSpec spec = toolProcessSpec(command, args, path, lookup);
    spec.outputGrace = environment.cliOutputGrace;
    spec.maxBufferedBytes = environment.cliOutputLimit;
    return platform::ChildProcess::launch(spec);
}

// Waits, with a bound, for whatever the tool still has to say on `stream`.
std::string drained(platform::ChildProcess& child, Stream stream, std::chrono::milliseconds bound) {
    child.waitForOutputEnd(stream, Clock::now() + bound);
    return child.takeOutput(stream);
}

RemoteAISummarizationError outputTooLarge(const std::string& command, int status, std::size_t limit) {
    VelnoteLogger::summarize().error("CLI output larger than {} bytes: {}", limit, command);
    return RemoteAISummarizationError::cliFailed(command, status,
                                                 "output larger than " + std::to_string(limit) + " bytes");
}

// Kills the tool after `limit` unless dropped first.
class Watchdog {
  public:
    Watchdog(platform::ChildProcess& child, std::chrono::milliseconds limit,
             std::chrono::milliseconds killDelay)
        : thread_([&child, limit, killDelay, this](std::stop_token stop) {
              std::unique_lock lock(mutex_);
              if (!wake_.wait_for(lock, stop, limit, [] { return false; }) && !stop.stop_requested())
                  child.forceKill(killDelay);
          }) {}

  private:
    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::jthread thread_; // last: stopped and joined before the members above go
};

} // namespace

CLISummarizationConfig CLISummarizationConfig::forProvider(SummaryProvider provider,
                                                           std::optional<std::string> cliCommand,
                                                           std::optional<std::string> cliArgs,
                                                           std::optional<std::string> providerModel,
                                                           std::string promptPrefix, std::string prompt) {
    CLISummarizationConfig config;
    config.provider = provider;
    config.shouldPersistMigration = provider == SummaryProvider::copilotCLI && !cliArgs;
    config.cliCommand = std::move(cliCommand);
    config.cliArgs = std::move(cliArgs);
    config.providerModel = std::move(providerModel);
    config.promptPrefix = std::move(promptPrefix);
    config.prompt = std::move(prompt);
    switch (provider) {
    case SummaryProvider::claudeCLI:
        config.defaultCommandKey = "claudeCLICommand";
        config.defaultArgs = "--print";
        break;
    case SummaryProvider::copilotCLI:
        config.defaultCommandKey = "copilotCLICommand";
        config.defaultArgs =
            "--prompt {prompt} --allow-all-tools --output-format text --silent --no-custom-instructions";
        break;
    case SummaryProvider::antigravityCLI:
        config.defaultCommandKey = "antigravityCLICommand";
        config.defaultArgs = kAntigravityDefaultArgs;
        break;
    default:
        break;
    }
    return config;
}

RemoteAICLIClient::RemoteAICLIClient(ProviderEnvironment environment)
    : environment_(std::move(environment)) {}

const std::vector<std::string>& RemoteAICLIClient::fallbackPATHDirs() {
    static const std::vector<std::string> dirs{"/opt/homebrew/bin", "/opt/homebrew/sbin",
                                               "/usr/local/bin",    "/usr/local/sbin",
                                               "/usr/bin",          "/bin",
                                               "/usr/sbin",         "/sbin"};
    return dirs;
}

std::string RemoteAICLIClient::buildEffectivePATH() const {
    const std::string setting = environment_.defaults.string(UserDefaultsKey::additionalPATH).value_or("");
    const char* inherited = std::getenv("PATH");
    const std::string first = setting.empty() ? platform::joined(fallbackPATHDirs(), ":") : setting;
    Args folders;
    for (const std::string& text : {first, std::string(inherited ? inherited : "")}) {
        for (auto& folder : platform::splitOn(text, ":")) {
            if (!folder.empty() && !contains(folders, folder))
                folders.push_back(std::move(folder));
        }
    }
    return platform::joined(folders, ":");
}

std::string RemoteAICLIClient::runCLI(const std::string& command, const Args& args, const std::string& input,
                                      std::stop_token stop) const {
    const auto& log = VelnoteLogger::summarize();
    auto child =
        launchTool(command, args, buildEffectivePATH(), ToolLookup::directWhenAbsolute, environment_);
    // The limit runs from the launch, and the input has a thread of its own: a tool that never
    // reads it cannot hold the run past the limit.
    const auto deadline = Clock::now() + environment_.cliTimeLimit;
    child->writeInput(input);
    const auto drainBound = environment_.cliKillDelay + environment_.cliOutputGrace + std::chrono::seconds(1);

    switch (child->waitForExit(deadline, stop)) {
    case platform::ChildProcess::WaitResult::stopped:
        child->forceKill(environment_.cliKillDelay);
        log.notice("CLI cancelled by task cancellation: {}", command);
        throw platform::CancellationError();
    case platform::ChildProcess::WaitResult::deadlinePassed: {
        child->forceKill(environment_.cliKillDelay);
        const double seconds = std::chrono::duration<double>(environment_.cliTimeLimit).count();
        log.error("CLI timed out after {}s: {}", seconds, command);
        const std::string errorText = utf8OrEmpty(drained(*child, Stream::standardError, drainBound));
        // The tool's error output may quote the prompt: only its size goes to the log.
        log.error("CLI timeout stderr: {}: <{} bytes>", command, errorText.size());
        throw RemoteAISummarizationError::cliTimeout(command, platform::trimWhitespace(errorText));
    }
    case platform::ChildProcess::WaitResult::exited:
        break;
    }
    const std::string output = utf8OrEmpty(drained(*child, Stream::standardOutput, drainBound));
    const std::string errorText = utf8OrEmpty(drained(*child, Stream::standardError, drainBound));
    const int status = child->terminationStatus().value_or(-1);
    if (child->outputOverflowed())
        throw outputTooLarge(command, status, environment_.cliOutputLimit);
    if (status != 0)
        throw RemoteAISummarizationError::cliFailed(command, status, platform::trimWhitespace(errorText));
    std::string trimmed = platform::trimWhitespace(output);
    if (trimmed.empty())
        throw RemoteAISummarizationError::emptyResponse();
    return trimmed;
}

std::string RemoteAICLIClient::cliSummarization(const CLISummarizationConfig& config,
                                                std::stop_token stop) const {
    if (BuildFlavor::overrideIsAppStore())
        throw RemoteAISummarizationError::cliUnavailableInAppStore(std::string(rawValue(config.provider)));
    std::string command;
    if (config.cliCommand) {
        command = *config.cliCommand;
    } else {
        const auto setting = environment_.defaults.store().string(config.defaultCommandKey);
        command = setting ? platform::trimWhitespace(*setting) : std::string();
        if (command.empty())
            command = builtInCommand(config.provider);
    }
    const std::string fullPrompt = config.promptPrefix + "\n\n" + config.prompt;
    const std::string raw = config.cliArgs.value_or(config.defaultArgs);
    Args args;
    std::string input;
    switch (config.provider) {
    case SummaryProvider::claudeCLI:
        args = normalizedClaudeCLIArgs(raw, config.providerModel);
        input = fullPrompt;
        break;
    case SummaryProvider::copilotCLI:
        args = normalizedCopilotCLIArgs(raw, fullPrompt, config.providerModel, config.shouldPersistMigration);
        break;
    case SummaryProvider::antigravityCLI:
        args = normalizedAntigravityCLIArgs(raw, fullPrompt, config.providerModel);
        break;
    default:
        break;
    }
    const std::string output = runCLI(command, args, input, std::move(stop));
    return config.provider == SummaryProvider::claudeCLI ? parseClaudeCLIJSONOutput(output, command) : output;
}

Args RemoteAICLIClient::normalizedClaudeCLIArgs(const std::string& raw,
                                                const std::optional<std::string>& providerModel) {
    Args args = platform::splitOnWhitespace(raw);
    if (!containsAny(args, {"--prompt", "-p"})) {
        args.push_back("-p");
        args.push_back("-");
    }
    const Args lower = lowercasedCopy(args);
    if (!containsAny(lower, {"--allowedtools", "--allowed-tools"})) {
        args.push_back("--allowedTools");
        args.push_back(""); // no tool is allowed
    }
    if (!contains(lower, "--output-format")) {
        args.push_back("--output-format");
        args.push_back("json");
    }
    return injectCLIModel(std::move(args), providerModel);
}

Args RemoteAICLIClient::normalizedCopilotCLIArgs(const std::optional<std::string>& raw,
                                                 const std::string& prompt,
                                                 const std::optional<std::string>& providerModel,
                                                 bool shouldPersistMigration) const {
    const std::string text = raw && !raw->empty() ? *raw : kCopilotDefaultArgs;
    if (text == "chat --stdin" || text.find("--stdin") != std::string::npos) {
        if (shouldPersistMigration)
            environment_.defaults.set(UserDefaultsKey::copilotCLIArgs, std::string(kCopilotDefaultArgs));
        return injectCLIModel(splitWithPrompt(kCopilotDefaultArgs, prompt), providerModel);
    }
    Args args = splitWithPrompt(text, prompt);
    if (!containsAny(args, {"--prompt", "-p", prompt})) {
        args.push_back("-p");
        args.push_back(prompt);
    }
    if (!containsAny(args, {"--allow-all-tools", "--allow-all", "--yolo"}))
        args.push_back("--allow-all-tools");
    if (!containsAny(args, {"-s", "--stream"}))
        args.push_back("-s");
    return injectCLIModel(std::move(args), providerModel);
}

Args RemoteAICLIClient::normalizedAntigravityCLIArgs(const std::optional<std::string>& raw,
                                                     const std::string& prompt,
                                                     const std::optional<std::string>& providerModel) {
    Args args = splitWithPrompt(raw.value_or(kAntigravityDefaultArgs), prompt);
    if (!containsAny(args, {"--prompt", "-p", prompt})) {
        args.push_back("-p");
        args.push_back(prompt);
    }
    if (!containsAny(args, {"--dangerously-skip-permissions", "--approval-mode"}))
        args.push_back("--dangerously-skip-permissions");
    return injectCLIModel(std::move(args), providerModel);
}

Args RemoteAICLIClient::injectCLIModel(Args args, const std::optional<std::string>& providerModel) {
    if (!providerModel || platform::isBlank(*providerModel))
        return args;
    if (containsAny(lowercasedCopy(args), {"--model", "-m"}))
        return args;
    args.push_back("--model");
    args.push_back(extractModelID(*providerModel));
    return args;
}

std::string RemoteAICLIClient::parseClaudeCLIJSONOutput(const std::string& output,
                                                        const std::string& command) {
    platform::Json json;
    try {
        json = platform::parseJson(output);
    } catch (const platform::JsonDecodeError& e) {
        VelnoteLogger::summarize().error("failed to parse claude CLI JSON output: {}", e.what());
        return output;
    }
    if (!json.is_object())
        return output;
    const auto result = json.find("result");
    const bool resultIsText = result != json.end() && result->is_string();
    if (const auto flag = json.find("is_error");
        flag != json.end() && flag->is_boolean() && flag->get<bool>()) {
        throw RemoteAISummarizationError::cliFailed(
            command, 1,
            resultIsText ? result->get<std::string>() : "claude CLI reported an error with no result text");
    }
    // A bare text, number or flag is not what the summary schema asks for: the result text is.
    if (const auto structured = json.find("structured_output");
        structured != json.end() && (structured->is_object() || structured->is_array()))
        return platform::toCompactJson(*structured);
    if (resultIsText && !platform::isBlank(result->get<std::string>()))
        return result->get<std::string>();
    return output;
}

bool RemoteAICLIClient::processCopilotJSONStreamLine(const std::string& line,
                                                     std::vector<std::string>& textParts,
                                                     std::string& sessionID,
                                                     const std::function<void(const std::string&)>& onDelta) {
    platform::Json event;
    try {
        event = platform::parseJson(line);
    } catch (const platform::JsonDecodeError& e) {
        VelnoteLogger::processing().error("CLIChatService: cannot parse a Copilot stream line: {}", e.what());
        return false;
    }
    if (!event.is_object())
        return false;
    const auto type = event.find("type");
    if (type == event.end() || !type->is_string())
        return false;
    const auto text = [&](const char* key) -> std::string {
        const auto data = event.find("data");
        if (data == event.end() || !data->is_object())
            return {};
        const auto value = data->find(key);
        return value != data->end() && value->is_string() ? value->get<std::string>() : std::string();
    };
    if (*type == "assistant.message_delta") {
        if (const std::string delta = text("deltaContent"); !delta.empty() && onDelta)
            onDelta(delta);
    } else if (*type == "assistant.message") {
        if (std::string content = text("content"); !content.empty())
            textParts.push_back(std::move(content));
    } else if (*type == "result") {
        const auto id = event.find("sessionId");
        sessionID = id != event.end() && id->is_string() ? id->get<std::string>() : std::string();
        return true;
    }
    return false;
}

RemoteAICLIClient::StreamReply RemoteAICLIClient::runCopilotJSONStream(
    const std::string& command, const Args& args, const std::string& input,
    const std::function<void(const std::string&)>& onDelta, std::stop_token stop) const {
    auto child = launchTool(command, args, buildEffectivePATH(), ToolLookup::onPath, environment_);
    child->writeInput(input);
    const auto killDelay = environment_.cliKillDelay;
    std::vector<std::string> textParts;
    std::vector<std::string> rawLines;
    std::string sessionID;
    bool sawResult = false;
    std::size_t received = 0;
    {
        // Past the limit the tool is killed, its output ends and the turn closes with what came.
        Watchdog watchdog(*child, environment_.cliTimeLimit, killDelay);
        // A piece may end inside a line or a character: it is carried over. The output limit below
        // comes first.
        LineAssembler lines(environment_.cliOutputLimit);
        while (!sawResult) {
            std::optional<std::string> chunk;
            try {
                chunk = child->nextChunk(Stream::standardOutput, stop);
            } catch (const platform::CancellationError&) {
                child->forceKill(killDelay);
                throw;
            }
            if (!chunk)
                break;
            // Lines and messages are kept until the result: an endless stream must not grow them.
            if ((received += chunk->size()) > environment_.cliOutputLimit) {
                child->forceKill(killDelay);
                throw outputTooLarge(command, -1, environment_.cliOutputLimit);
            }
            for (const auto& bytes : lines.push(*chunk)) {
                if (!platform::isValidUtf8(bytes)) {
                    VelnoteLogger::processing().error(
                        "CLIChatService: a Copilot stream line is not UTF-8 ({} bytes)", bytes.size());
                    continue;
                }
                std::string line = platform::trimWhitespace(bytes);
                if (line.empty())
                    continue;
                rawLines.push_back(line);
                if ((sawResult = processCopilotJSONStreamLine(line, textParts, sessionID, onDelta)))
                    break;
            }
        }
    }
    if (child->outputOverflowed())
        throw outputTooLarge(command, -1, environment_.cliOutputLimit);
    if (sawResult) {
        child->forceKill(killDelay);
    } else {
        platform::throwIfCancelled(stop);
        // The output has ended; the exit follows at once unless the tool closed it and runs on.
        child->waitForExit(Clock::now() + environment_.cliOutputGrace, stop);
        platform::throwIfCancelled(stop);
        const auto status = child->terminationStatus();
        if (status && *status != 0) {
            const auto bound = environment_.cliOutputGrace + std::chrono::seconds(1);
            const std::string errorText = utf8OrEmpty(drained(*child, Stream::standardError, bound));
            throw RemoteAISummarizationError::cliFailed(command, *status,
                                                        platform::trimWhitespace(errorText));
        }
        child->forceKill(killDelay);
    }
    std::string answer = platform::trimWhitespace(platform::joined(textParts, "\n"));
    if (answer.empty()) {
        if (rawLines.empty())
            throw RemoteAISummarizationError::emptyResponse();
        answer = platform::joined(rawLines, "\n");
    }
    return StreamReply{std::move(answer), std::move(sessionID)};
}

} // namespace velnote
