#pragma once

#include <string_view>

namespace velnote {

// The default base URLs of the remote summary providers, frozen into a
// session's configuration and used by the remote clients when a setting is
// blank. The remote clients recognise OpenRouter and the Copilot API by
// "openrouter" and "githubcopilot" in a base URL, so those two must keep them.
struct ProviderEndpoints {
    static constexpr std::string_view openAI = "https://api.openai.com";
    static constexpr std::string_view openRouter = "https://openrouter.ai/api";
    static constexpr std::string_view githubCopilot = "https://api.githubcopilot.com";
    static constexpr std::string_view anthropic = "https://api.anthropic.com";
    static constexpr std::string_view gemini = "https://generativelanguage.googleapis.com";
    static constexpr std::string_view ollama = "http://localhost:11434";
};

} // namespace velnote
