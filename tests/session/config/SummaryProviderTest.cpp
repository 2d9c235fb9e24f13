#include "session/config/SummaryProvider.h"

#include "session/l10n/L10n.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

TEST(SummaryProviderTest, RawValuesMapBothWaysInCaseOrder) {
    const char* raw[] = {"local",      "openai",          "openrouter", "copilot_api",
                         "claude_api", "apple_local",     "claude_cli", "copilot_cli",
                         "ollama",     "antigravity_cli", "gemini"};
    ASSERT_EQ(std::size(raw), kAllSummaryProviders.size());
    for (std::size_t i = 0; i < kAllSummaryProviders.size(); ++i) {
        EXPECT_EQ(static_cast<std::size_t>(kAllSummaryProviders[i]), i);
        EXPECT_EQ(rawValue(kAllSummaryProviders[i]), raw[i]);
        EXPECT_EQ(summaryProviderFromRawValue(raw[i]), kAllSummaryProviders[i]);
    }
    for (const char* other : {"OpenAI", " openai", "openai ", "openAI", "llamaCppLocal", ""}) {
        EXPECT_EQ(summaryProviderFromRawValue(other), std::nullopt) << other;
    }
}

TEST(SummaryProviderTest, LabelsComeFromTheCatalogueWithEnglishDefaults) {
    EXPECT_EQ(label(SummaryProvider::ollama), L10n::localized("L10n.Common.ollama", "Ollama"));
    EXPECT_EQ(label(SummaryProvider::copilotCLI),
              L10n::localized("L10n.Common.githubCopilotCLI", "GitHub Copilot CLI"));
    for (const auto provider : kAllSummaryProviders)
        EXPECT_FALSE(label(provider).empty());
}

} // namespace
} // namespace velnote
