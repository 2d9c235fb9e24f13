#pragma once

#include "session/config/SessionConfig.h"
#include "session/keychain/KeychainHelper.h"
#include "session/settings/UserDefaults.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// The back-ends that can write a session summary. Files and settings hold a
// provider as its raw value; the declaration order is the order every picker
// lists them in.
enum class SummaryProvider {
    llamaCppLocal,    // "local": a local GGUF model through llama.cpp
    openAI,           // "openai"
    openRouter,       // "openrouter"
    githubCopilotAPI, // "copilot_api"
    claudeAPI,        // "claude_api"
    appleLocalLLM,    // "apple_local": the on-device foundation model
    claudeCLI,        // "claude_cli"
    copilotCLI,       // "copilot_cli"
    ollama,           // "ollama"
    antigravityCLI,   // "antigravity_cli"
    geminiAPI,        // "gemini"
};

inline constexpr std::array<SummaryProvider, 11> kAllSummaryProviders = {
    SummaryProvider::llamaCppLocal,    SummaryProvider::openAI,     SummaryProvider::openRouter,
    SummaryProvider::githubCopilotAPI, SummaryProvider::claudeAPI,  SummaryProvider::appleLocalLLM,
    SummaryProvider::claudeCLI,        SummaryProvider::copilotCLI, SummaryProvider::ollama,
    SummaryProvider::antigravityCLI,   SummaryProvider::geminiAPI};

// Parsed with platform::fromRawValue<SummaryProvider>; what an unknown text means is the caller's rule.
constexpr const auto& allCases(SummaryProvider) {
    return kAllSummaryProviders;
}
std::string_view rawValue(SummaryProvider provider);
// The display name in the interface language.
std::string label(SummaryProvider provider);

// The keyring account of the provider's API key: only the five API providers have one.
std::optional<std::string_view> apiKeyAccount(SummaryProvider provider);

// The model identifier in a model setting: the setting trimmed, cut at white space and line
// breaks, and the first piece ("  gpt-4o mini " gives "gpt-4o"); "" for a blank setting.
std::string extractModelID(std::string_view setting);

// The model name recorded for a summary run of `provider` with `config` (front matter of
// "summary.md", "summary_config.json"): the identifier of the session's provider model when it
// is not blank, for every provider; otherwise the local model (or the built-in local default),
// "on-device", the command-line tool's current model setting read from `defaults` (its
// identifier, "default" when unset), or "default".
std::string resolvedModel(SummaryProvider provider, const SessionConfig& config,
                          const UserDefaults& defaults = UserDefaults());

// False only for an API provider whose key is missing or empty in the keyring (a key of blanks
// counts as present); the keyring is not touched for the other providers.
bool validateAPIKey(SummaryProvider provider, const KeychainHelper& keychain);
bool validateAPIKey(SummaryProvider provider);

// The providers the pickers offer, in case order: all eleven, except that the store flavour
// selected by BuildFlavor's override leaves out the three command-line tools.
std::vector<SummaryProvider> availableProviders();

// The three command-line tools: claudeCLI, copilotCLI and antigravityCLI.
bool isCommandLineProvider(SummaryProvider provider);

} // namespace velnote
