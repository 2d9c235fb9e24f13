#pragma once

#include "providers/core/ProviderEnvironment.h"
#include "session/config/SummaryProvider.h"

#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace velnote {

// One summary through a command-line tool.
struct CLISummarizationConfig {
    SummaryProvider provider = SummaryProvider::claudeCLI; // any non-tool provider runs the command bare
    std::optional<std::string> cliCommand;    // the session's command, used as it stands when present
    std::optional<std::string> cliArgs;       // the session's argument string; "{prompt}" is the prompt
    std::optional<std::string> providerModel; // only its first word reaches the tool
    std::string promptPrefix;                 // the summary instructions
    std::string prompt;                       // the material
    std::string defaultCommandKey;            // the setting read when there is no command
    std::string defaultArgs;                  // used when there is no argument string
    bool shouldPersistMigration = false;      // write a migrated Copilot argument string back

    // The config of `provider` with its command key and default arguments; a Copilot config
    // without an argument string may persist the migration.
    static CLISummarizationConfig forProvider(SummaryProvider provider, std::optional<std::string> cliCommand,
                                              std::optional<std::string> cliArgs,
                                              std::optional<std::string> providerModel,
                                              std::string promptPrefix, std::string prompt);
};

// Runs the command-line AI tools ("claude", "copilot", "agy") as child processes: the PATH they
// get, the watchdog and kill sequence, their argument vectors, the one-shot summary and the
// Copilot tool's JSON event stream.
//
// Stateless apart from the environment; any number of runs at once, each blocking its caller's
// thread. A run that outlasts the environment's time limit is killed (SIGTERM to the tool's
// process group, SIGKILL after the kill delay) and fails with cliTimeout; a stop request kills it
// the same way and ends the run with CancellationError. A tool that cannot be started fails with
// platform::ProcessLaunchError.
class RemoteAICLIClient {
  public:
    struct StreamReply {
        std::string text;
        std::string sessionID; // "" when the tool gave none
    };

    explicit RemoteAICLIClient(ProviderEnvironment environment);

    // The tool's standard output, trimmed. `command` is a name looked up on the PATH built by
    // buildEffectivePATH() (through /usr/bin/env) or an absolute path run directly. Fails with
    // cliFailed (exit status not 0, with the trimmed error output), emptyResponse or cliTimeout.
    std::string runCLI(const std::string& command, const std::vector<std::string>& args,
                       const std::string& input, std::stop_token stop = {}) const;

    // A summary through the config's tool; cliUnavailableInAppStore in the store flavour.
    std::string cliSummarization(const CLISummarizationConfig& config, std::stop_token stop = {}) const;

    // The Copilot tool in its JSON output mode: increments go to `onDelta` (on the caller's
    // thread) as they arrive; whole messages make the answer; the "result" event ends the turn with
    // the session id and the tool is killed. Fails with cliFailed when the tool ends with a status
    // other than 0 before the result, emptyResponse when it printed nothing.
    StreamReply runCopilotJSONStream(const std::string& command, const std::vector<std::string>& args,
                                     const std::string& input,
                                     const std::function<void(const std::string&)>& onDelta = {},
                                     std::stop_token stop = {}) const;

    // "additionalPATH" (or the fallback folders when it is empty) and then the application's own
    // PATH, each folder once, in order.
    std::string buildEffectivePATH() const;

    // The Claude tool reads its prompt from standard input.
    static std::vector<std::string> normalizedClaudeCLIArgs(const std::string& raw,
                                                            const std::optional<std::string>& providerModel);
    // Rewrites the legacy "--stdin" forms, writing the new default to "copilotCLIArgs" when
    // `shouldPersistMigration`.
    std::vector<std::string> normalizedCopilotCLIArgs(const std::optional<std::string>& raw,
                                                      const std::string& prompt,
                                                      const std::optional<std::string>& providerModel,
                                                      bool shouldPersistMigration) const;
    static std::vector<std::string>
    normalizedAntigravityCLIArgs(const std::optional<std::string>& raw, const std::string& prompt,
                                 const std::optional<std::string>& providerModel);
    // Appends "--model" and the setting's identifier unless the vector already names a model.
    static std::vector<std::string> injectCLIModel(std::vector<std::string> args,
                                                   const std::optional<std::string>& providerModel);
    // The summary in the Claude tool's JSON result; the output as printed when it is not such JSON.
    static std::string parseClaudeCLIJSONOutput(const std::string& output, const std::string& command);
    // One event line of the Copilot stream; true for the final "result" event.
    static bool processCopilotJSONStreamLine(const std::string& line, std::vector<std::string>& textParts,
                                             std::string& sessionID,
                                             const std::function<void(const std::string&)>& onDelta);

    // The folders used when "additionalPATH" is empty.
    static const std::vector<std::string>& fallbackPATHDirs();

  private:
    ProviderEnvironment environment_;
};

} // namespace velnote
