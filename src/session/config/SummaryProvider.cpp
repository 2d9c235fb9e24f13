#include "session/config/SummaryProvider.h"

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

std::optional<SummaryProvider> summaryProviderFromRawValue(std::string_view raw) {
    for (const auto provider : kAllSummaryProviders) {
        if (rawValue(provider) == raw)
            return provider;
    }
    return std::nullopt;
}

std::string label(SummaryProvider provider) {
    const Names n = names(provider);
    return L10n::localized(n.labelKey, n.englishLabel);
}

} // namespace velnote
