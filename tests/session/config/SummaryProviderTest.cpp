#include "session/config/SummaryProvider.h"

#include "platform/flavor/BuildFlavor.h"
#include "platform/json/RawValue.h"
#include "session/l10n/L10n.h"
#include "support/FakeSecretStore.h"
#include "support/TempDir.h"

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
        EXPECT_EQ(platform::fromRawValue<SummaryProvider>(raw[i]), kAllSummaryProviders[i]);
    }
    for (const char* other : {"OpenAI", " openai", "openai ", "openAI", "llamaCppLocal", ""}) {
        EXPECT_EQ(platform::fromRawValue<SummaryProvider>(other), std::nullopt) << other;
    }
}

TEST(SummaryProviderTest, LabelsComeFromTheCatalogueWithEnglishDefaults) {
    EXPECT_EQ(label(SummaryProvider::ollama), L10n::localized("L10n.Common.ollama", "Ollama"));
    EXPECT_EQ(label(SummaryProvider::copilotCLI),
              L10n::localized("L10n.Common.githubCopilotCLI", "GitHub Copilot CLI"));
    for (const auto provider : kAllSummaryProviders)
        EXPECT_FALSE(label(provider).empty());
}

struct ModelCase {
    SummaryProvider provider;
    std::optional<std::string> providerModel;
    std::string localModel;
    std::optional<std::string> cliModelSetting; // the tool's global model setting
    std::string recorded;
};

TEST(SummaryProviderTest, RecordsTheModelOfARun) {
    const ModelCase cases[] = {
        {.provider = SummaryProvider::openAI,
         .providerModel = "  gpt-4o mini ",
         .localModel = "",
         .cliModelSetting = std::nullopt,
         .recorded = "gpt-4o"},
        {.provider = SummaryProvider::llamaCppLocal,
         .providerModel = "q7\tfast",
         .localModel = "local-x",
         .cliModelSetting = std::nullopt,
         .recorded = "q7"},
        {.provider = SummaryProvider::claudeCLI,
         .providerModel = "opus",
         .localModel = "",
         .cliModelSetting = "sonnet",
         .recorded = "opus"},
        {.provider = SummaryProvider::openAI,
         .providerModel = " \u3000",
         .localModel = "",
         .cliModelSetting = std::nullopt,
         .recorded = "default"},
        {.provider = SummaryProvider::llamaCppLocal,
         .providerModel = std::nullopt,
         .localModel = "",
         .cliModelSetting = std::nullopt,
         .recorded = "qwen2.5-7b-instruct-mlx-4bit"},
        {.provider = SummaryProvider::llamaCppLocal,
         .providerModel = "",
         .localModel = " local-x ",
         .cliModelSetting = std::nullopt,
         .recorded = " local-x "},
        {.provider = SummaryProvider::appleLocalLLM,
         .providerModel = std::nullopt,
         .localModel = "",
         .cliModelSetting = std::nullopt,
         .recorded = "on-device"},
        {.provider = SummaryProvider::geminiAPI,
         .providerModel = std::nullopt,
         .localModel = "local-x",
         .cliModelSetting = std::nullopt,
         .recorded = "default"},
        {.provider = SummaryProvider::claudeCLI,
         .providerModel = std::nullopt,
         .localModel = "",
         .cliModelSetting = std::nullopt,
         .recorded = "default"},
        {.provider = SummaryProvider::copilotCLI,
         .providerModel = std::nullopt,
         .localModel = "",
         .cliModelSetting = "",
         .recorded = "default"},
        {.provider = SummaryProvider::antigravityCLI,
         .providerModel = std::nullopt,
         .localModel = "",
         .cliModelSetting = "gemini-pro with notes",
         .recorded = "gemini-pro"},
        {.provider = SummaryProvider::copilotCLI,
         .providerModel = std::nullopt,
         .localModel = "",
         .cliModelSetting = "  ",
         .recorded = ""},
    };
    testing::TempDir dir;
    platform::SettingsStore store(dir / "settings.json");
    const UserDefaults defaults(store);
    for (const auto& c : cases) {
        SessionConfig config;
        config.summary.providerModel = c.providerModel;
        config.summary.localModel = c.localModel;
        for (const auto key : {UserDefaultsKey::claudeCLIModel, UserDefaultsKey::copilotCLIModel,
                               UserDefaultsKey::antigravityCLIModel})
            defaults.setObject(key, c.cliModelSetting
                                        ? std::optional<platform::SettingsValue>(*c.cliModelSetting)
                                        : std::nullopt);
        EXPECT_EQ(resolvedModel(c.provider, config, defaults), c.recorded) << rawValue(c.provider);
    }
}

TEST(SummaryProviderTest, OnlyTheApiProvidersNeedAKeyInTheKeyring) {
    auto store = std::make_shared<testing::FakeSecretStore>();
    const KeychainHelper keychain(store);
    for (const auto provider : kAllSummaryProviders)
        EXPECT_EQ(validateAPIKey(provider, keychain), !apiKeyAccount(provider).has_value())
            << rawValue(provider);
    EXPECT_EQ(store->calls.size(), 5u); // one read per API provider

    keychain.save("   ", KeychainHelper::claudeAPIKey); // blanks count as a key
    keychain.save("", KeychainHelper::geminiAPIKey);
    EXPECT_TRUE(validateAPIKey(SummaryProvider::claudeAPI, keychain));
    EXPECT_FALSE(validateAPIKey(SummaryProvider::geminiAPI, keychain));
    EXPECT_EQ(apiKeyAccount(SummaryProvider::githubCopilotAPI), "copilotAPIKey");
}

TEST(SummaryProviderTest, TheStoreFlavourOffersNoCommandLineTool) {
    const auto restore = BuildFlavor::testOverride();
    BuildFlavor::setTestOverride(BuildFlavorType::appStore);
    const std::vector<SummaryProvider> store = availableProviders();
    BuildFlavor::setTestOverride(BuildFlavorType::direct);
    const std::vector<SummaryProvider> direct = availableProviders();
    BuildFlavor::setTestOverride(std::nullopt);
    const std::vector<SummaryProvider> none = availableProviders();
    BuildFlavor::setTestOverride(restore);

    using P = SummaryProvider;
    EXPECT_EQ(store, (std::vector<P>{P::llamaCppLocal, P::openAI, P::openRouter, P::githubCopilotAPI,
                                     P::claudeAPI, P::appleLocalLLM, P::ollama, P::geminiAPI}));
    const std::vector<P> all(kAllSummaryProviders.begin(), kAllSummaryProviders.end());
    EXPECT_EQ(direct, all);
    EXPECT_EQ(none, all);
}

} // namespace
} // namespace velnote
