#include "providers/cli/CLIChatService.h"

#include "platform/flavor/BuildFlavor.h"
#include "platform/json/Json.h"
#include "platform/text/Whitespace.h"
#include "providers/core/RemoteAISummarizationError.h"
#include "session/VelnoteLogger.h"

namespace velnote {
namespace {

void refuseInStoreFlavour(const char* provider) {
    if (BuildFlavor::overrideIsAppStore())
        throw RemoteAISummarizationError::cliUnavailableInAppStore(provider);
}

// The trimmed model setting, when there is one.
std::optional<std::string> wholeModel(const std::optional<std::string>& providerModel) {
    if (!providerModel)
        return std::nullopt;
    std::string trimmed = platform::trimWhitespace(*providerModel);
    return trimmed.empty() ? std::nullopt : std::optional<std::string>(std::move(trimmed));
}

} // namespace

CLIChatService::CLIChatService(ProviderEnvironment environment, CLISessionSlots slots)
    : environment_(environment), client_(std::move(environment)), slots_(std::move(slots)) {}

CLIChatService& CLIChatService::shared() {
    static CLIChatService* service = new CLIChatService(ProviderEnvironment::standard());
    return *service;
}

std::string CLIChatService::command(UserDefaultsKey key, const char* builtIn) const {
    return environment_.defaults.trimmedString(key).value_or(builtIn);
}

CLIChatService::Reply CLIChatService::runClaudeCLIForChat(const std::string& prompt,
                                                          const std::optional<std::string>& sessionID,
                                                          const std::optional<std::string>& providerModel,
                                                          bool forChat, std::stop_token stop) const {
    refuseInStoreFlavour("claude_cli");
    if (const auto& session = forChat ? slots_.claudeChat : slots_.claude; session && session->running())
        return Reply{session->send(prompt, std::move(stop)), ""};
    std::vector<std::string> args{"--print", "--output-format", "json", "-p", "-"};
    if (sessionID && !sessionID->empty()) {
        args.push_back("--resume");
        args.push_back(*sessionID);
    }
    if (const auto model = wholeModel(providerModel)) {
        args.push_back("--model");
        args.push_back(*model);
    }
    std::string output =
        client_.runCLI(command(UserDefaultsKey::claudeCLICommand, "claude"), args, prompt, std::move(stop));
    try {
        const platform::Json json = platform::parseJson(output);
        if (json.is_object() && json.contains("result") && json["result"].is_string() &&
            json.contains("session_id") && json["session_id"].is_string())
            return Reply{json["result"].get<std::string>(), json["session_id"].get<std::string>()};
    } catch (const platform::JsonDecodeError& e) {
        VelnoteLogger::processing().error("CLIChatService: cannot parse the Claude tool's JSON answer: {}",
                                          e.what());
    }
    return Reply{std::move(output), ""};
}

CLIChatService::Reply
CLIChatService::runCopilotCLIForChat(const std::string& prompt, const std::optional<std::string>& sessionID,
                                     const std::optional<std::string>& providerModel, bool forChat,
                                     const std::function<void(const std::string&)>& onDelta,
                                     std::stop_token stop) const {
    refuseInStoreFlavour("copilot_cli");
    if (environment_.defaults.boolean(UserDefaultsKey::copilotCLIUseACP)) {
        if (const auto& session = forChat ? slots_.copilotChat : slots_.copilot;
            session && session->running())
            return Reply{session->send(prompt, std::move(stop)), ""};
    }
    std::vector<std::string> args{"--output-format", "json", "--allow-all-tools"};
    if (sessionID && !sessionID->empty())
        args.push_back("--resume=" + *sessionID);
    if (const auto model = wholeModel(providerModel)) {
        args.push_back("--model");
        args.push_back(*model);
    }
    auto reply = client_.runCopilotJSONStream(command(UserDefaultsKey::copilotCLICommand, "copilot"), args,
                                              prompt, onDelta, std::move(stop));
    return Reply{std::move(reply.text), std::move(reply.sessionID)};
}

CLIChatService::Reply
CLIChatService::runAntigravityCLIForChat(const std::string& prompt, const std::optional<std::string>&,
                                         const std::optional<std::string>& providerModel, bool,
                                         std::stop_token stop) const {
    refuseInStoreFlavour("antigravity_cli");
    const auto raw = environment_.defaults.string(UserDefaultsKey::antigravityCLIArgs);
    const auto args = RemoteAICLIClient::normalizedAntigravityCLIArgs(raw, prompt, providerModel);
    return Reply{
        client_.runCLI(command(UserDefaultsKey::antigravityCLICommand, "agy"), args, "", std::move(stop)),
        ""};
}

} // namespace velnote
