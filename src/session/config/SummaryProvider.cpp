#include "session/config/SummaryProvider.h"

#include "platform/flavor/BuildFlavor.h"
#include "platform/text/Whitespace.h"
#include "session/l10n/L10n.h"

namespace velnote {
namespace {

struct Names {
    std::string_view raw;
    std::string_view labelKey;
    std::string_view englishLabel;
};

Names names(SummaryProvider provider) {
    switch (provider) {
    case SummaryProvider::llamaCppLocal:
        return {"local", "L10n.Common.llamaCppLocalProvider", "llama.cpp local LLM"};
    case SummaryProvider::openAI:
        return {"openai", "L10n.Common.openAIAPI", "OpenAI API"};
    case SummaryProvider::openRouter:
        return {"openrouter", "L10n.Common.openRouterAPI", "OpenRouter API"};
    case SummaryProvider::githubCopilotAPI:
        return {"copilot_api", "L10n.Common.githubCopilotAPI", "GitHub Copilot API"};
    case SummaryProvider::claudeAPI:
        return {"claude_api", "L10n.Common.claudeAPI", "Claude API"};
    case SummaryProvider::appleLocalLLM:
        return {"apple_local", "L10n.Common.appleLocalLLMProvider", "Apple local LLM"};
    case SummaryProvider::claudeCLI:
        return {"claude_cli", "L10n.Common.claudeCLI", "Claude CLI"};
    case SummaryProvider::copilotCLI:
        return {"copilot_cli", "L10n.Common.githubCopilotCLI", "GitHub Copilot CLI"};
    case SummaryProvider::ollama:
        return {"ollama", "L10n.Common.ollama", "Ollama"};
    case SummaryProvider::antigravityCLI:
        return {"antigravity_cli", "L10n.Common.antigravityCLI", "Antigravity CLI"};
    case SummaryProvider::geminiAPI:
        return {"gemini", "L10n.Common.geminiAPI", "Gemini API"};
    }
    return {"local", "L10n.Common.llamaCppLocalProvider", "llama.cpp local LLM"};
}

} // namespace

std::string_view rawValue(SummaryProvider provider) {
    return names(provider).raw;
}

std::string label(SummaryProvider provider) {
    const Names n = names(provider);
    return L10n::localized(n.labelKey, n.englishLabel);
}

std::optional<std::string_view> apiKeyAccount(SummaryProvider provider) {
    switch (provider) {
    case SummaryProvider::openAI:
        return KeychainHelper::openAIAPIKey;
    case SummaryProvider::openRouter:
        return KeychainHelper::openRouterAPIKey;
    case SummaryProvider::githubCopilotAPI:
        return KeychainHelper::copilotAPIKey;
    case SummaryProvider::claudeAPI:
        return KeychainHelper::claudeAPIKey;
    case SummaryProvider::geminiAPI:
        return KeychainHelper::geminiAPIKey;
    default:
        return std::nullopt;
    }
}

std::string extractModelID(std::string_view setting) {
    const std::string trimmed = platform::trimWhitespace(setting);
    auto pieces = platform::splitOnWhitespace(trimmed);
    return pieces.empty() ? trimmed : std::move(pieces.front());
}

std::string resolvedModel(SummaryProvider provider, const SessionConfig& config,
                          const UserDefaults& defaults) {
    const auto& providerModel = config.summary.providerModel;
    if (providerModel && !platform::isBlank(*providerModel))
        return extractModelID(*providerModel);
    const auto commandLineModel = [&](UserDefaultsKey key) {
        const auto setting = defaults.string(key);
        return extractModelID(setting && !setting->empty() ? *setting : "default");
    };
    switch (provider) {
    case SummaryProvider::llamaCppLocal:
        return config.summary.localModel.empty() ? "qwen2.5-7b-instruct-mlx-4bit" : config.summary.localModel;
    case SummaryProvider::appleLocalLLM:
        return "on-device";
    case SummaryProvider::claudeCLI:
        return commandLineModel(UserDefaultsKey::claudeCLIModel);
    case SummaryProvider::copilotCLI:
        return commandLineModel(UserDefaultsKey::copilotCLIModel);
    case SummaryProvider::antigravityCLI:
        return commandLineModel(UserDefaultsKey::antigravityCLIModel);
    default:
        return "default";
    }
}

bool validateAPIKey(SummaryProvider provider, const KeychainHelper& keychain) {
    const auto account = apiKeyAccount(provider);
    return !account || !keychain.load(*account).empty();
}

bool validateAPIKey(SummaryProvider provider) {
    return validateAPIKey(provider, KeychainHelper());
}

bool isCommandLineProvider(SummaryProvider provider) {
    return provider == SummaryProvider::claudeCLI || provider == SummaryProvider::copilotCLI ||
           provider == SummaryProvider::antigravityCLI;
}

std::vector<SummaryProvider> availableProviders() {
    std::vector<SummaryProvider> offered;
    for (const auto provider : kAllSummaryProviders) {
        if (!(BuildFlavor::overrideIsAppStore() && isCommandLineProvider(provider)))
            offered.push_back(provider);
    }
    return offered;
}

} // namespace velnote
