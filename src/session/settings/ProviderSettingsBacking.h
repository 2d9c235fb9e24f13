#pragma once

#include "session/config/SummaryProvider.h"

#include <string>
#include <string_view>

namespace velnote {

// The provider values the settings editor shows and edits, other than the API
// keys. An unset value is "" or false.
struct ProviderSettingsValues {
    std::string localSummaryModel;
    std::string localSummaryModelPath; // GGUF file of the llama.cpp provider
    bool preferDirectSummaryForLlamaCppLocal = false;
    bool preferDirectSummaryForAppleLocalLLM = false;
    std::string openAIModel;
    std::string openAIBaseURL;
    std::string openRouterModel;
    bool openRouterFreeOnly = false;
    std::string copilotModel;
    std::string copilotBaseURL;
    std::string claudeModel;
    std::string claudeBaseURL;
    std::string claudeCLICommand;
    std::string claudeCLIModel;
    std::string copilotCLICommand;
    std::string copilotCLIModel;
    bool copilotCLIUseACP = false;
    std::string antigravityCLICommand;
    std::string antigravityCLIArgs; // "{prompt}" stands for the prompt
    std::string antigravityCLIModel;
    std::string ollamaModel;
    std::string ollamaBaseURL;
    std::string geminiModel;
    std::string geminiBaseURL;

    bool operator==(const ProviderSettingsValues&) const = default;
};

// The provider API keys, each kept in the keyring under its account.
enum class ProviderAPIKey { openAI, openRouter, copilot, claude, gemini };

inline constexpr ProviderAPIKey kAllProviderAPIKeys[] = {ProviderAPIKey::openAI, ProviderAPIKey::openRouter,
                                                         ProviderAPIKey::copilot, ProviderAPIKey::claude,
                                                         ProviderAPIKey::gemini};

// The keyring account of `key`, e.g. "openAIAPIKey".
std::string_view keychainAccount(ProviderAPIKey key);

// Where the provider settings editor keeps its values: the global settings
// (UserDefaultsBacking) or the configuration of the recording in progress
// (SessionConfigBacking). Each exists in a summary and a live-summary variant.
// The editor reads the values, changes them, and calls commit() to store
// them; nothing is stored before. Main thread only.
class ProviderSettingsBacking {
  public:
    virtual ~ProviderSettingsBacking() = default;

    // False for the global settings, true for one recording's configuration.
    virtual bool isSessionOverride() const = 0;

    virtual const ProviderSettingsValues& values() const = 0;
    virtual ProviderSettingsValues& values() = 0;

    // "" when there is no key (or it could not be read).
    virtual std::string apiKey(ProviderAPIKey key) const = 0;
    virtual void setAPIKey(ProviderAPIKey key, std::string value) = 0;

    // Stores the values; `activeProvider` is the provider whose settings the
    // editor shows.
    virtual void commit(SummaryProvider activeProvider) = 0;
};

} // namespace velnote
