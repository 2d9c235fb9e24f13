#pragma once

#include "providers/cli/CLIPersistentSession.h"
#include "providers/cli/CopilotACPSession.h"
#include "providers/cli/RemoteAICLIClient.h"

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace velnote {

// Persistent tool sessions a chat turn goes through when one of them is running; the application
// starts none, so its turns always run the tool once.
struct CLISessionSlots {
    std::shared_ptr<CLIPersistentSession> claude;     // turns without forChat
    std::shared_ptr<CLIPersistentSession> claudeChat; // turns with forChat
    std::shared_ptr<CopilotACPSession> copilot;
    std::shared_ptr<CopilotACPSession> copilotChat;
};

// One prompt through a command-line tool as a chat turn, with the tool's session id so that a
// later turn could resume the conversation (the live summary keeps only the text). Commands come
// from the global settings at every call, not from a session's configuration.
//
// Any number of turns at once, each blocking its caller's thread; the service changes no state.
// In the store flavour every turn fails with cliUnavailableInAppStore before a tool starts.
class CLIChatService {
  public:
    struct Reply {
        std::string text;
        std::string sessionID; // "" when the tool gave none
    };

    explicit CLIChatService(ProviderEnvironment environment, CLISessionSlots slots = {});

    // The application's, on the standard environment.
    static CLIChatService& shared();

    // "claude --print --output-format json -p -" (+ "--resume" id, + "--model" and the whole
    // trimmed model setting), the prompt on standard input; "result" and "session_id" of its JSON.
    Reply runClaudeCLIForChat(const std::string& prompt, const std::optional<std::string>& sessionID,
                              const std::optional<std::string>& providerModel, bool forChat,
                              std::stop_token stop = {}) const;
    // "copilot --output-format json --allow-all-tools" (+ "--resume=<id>", + "--model"), read as
    // the JSON event stream; increments go to `onDelta`.
    Reply runCopilotCLIForChat(const std::string& prompt, const std::optional<std::string>& sessionID,
                               const std::optional<std::string>& providerModel, bool forChat,
                               const std::function<void(const std::string&)>& onDelta = {},
                               std::stop_token stop = {}) const;
    // "agy" with the "antigravityCLIArgs" setting (the prompt as an argument); no session id.
    Reply runAntigravityCLIForChat(const std::string& prompt, const std::optional<std::string>& sessionID,
                                   const std::optional<std::string>& providerModel, bool forChat,
                                   std::stop_token stop = {}) const;

  private:
    std::string command(UserDefaultsKey key, const char* builtIn) const;

    ProviderEnvironment environment_;
    RemoteAICLIClient client_;
    CLISessionSlots slots_;
};

} // namespace velnote
