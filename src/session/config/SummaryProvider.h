#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

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

std::string_view rawValue(SummaryProvider provider);
// The provider whose raw value is exactly `raw` (case-sensitive, no trimming);
// what none means is the caller's rule.
std::optional<SummaryProvider> summaryProviderFromRawValue(std::string_view raw);
// The display name in the interface language.
std::string label(SummaryProvider provider);

} // namespace velnote
