#include "support/RecordingBacking.h"
#include "ui/settings/ProviderSettingsViewModel.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using S = ProviderSetting;

TEST(ProviderSettingsViewModelBackingTest, BlankTextsGetTheirDefaultsAndTheRestLoadsAsItIs) {
    struct Case {
        std::string ProviderSettingsValues::*member;
        ProviderSetting setting;
        std::string stored;
        std::string loaded;
    };
    using V = ProviderSettingsValues;
    const std::vector<Case> cases = {
        {&V::claudeCLICommand, S::claudeCLICommand, "  \t", "claude"},
        {&V::copilotCLICommand, S::copilotCLICommand, "", "copilot"},
        {&V::antigravityCLICommand, S::antigravityCLICommand, " ", "agy"},
        {&V::antigravityCLICommand, S::antigravityCLICommand, " agy2 ", "agy2"},
        {&V::antigravityCLIArgs, S::antigravityCLIArgs, "  -p {prompt} ", "-p {prompt}"},
        {&V::antigravityCLIArgs, S::antigravityCLIArgs, "", ""},
        {&V::geminiModel, S::geminiModel, "\n", "gemini-1.5-flash"},
        {&V::localSummaryModel, S::localSummaryModel, "   ", "qwen2.5-7b-instruct-mlx-4bit"},
        {&V::localSummaryModelPath, S::localSummaryModelPath, "   ", "   "},
        {&V::openAIModel, S::openAIModel, " gpt-4o ", " gpt-4o "},
        {&V::ollamaBaseURL, S::ollamaBaseURL, " http://x ", " http://x "},
    };
    for (const Case& c : cases) {
        auto backing = std::make_shared<testing::RecordingBacking>();
        backing->values().*c.member = c.stored;
        ProviderSettingsViewModel model(backing);
        EXPECT_EQ(model.text(c.setting), c.loaded) << "[" << c.stored << "]";
    }
}

TEST(ProviderSettingsViewModelBackingTest, AutosaveRunsOnEveryAssignmentButObserversOnlyOnChanges) {
    auto backing = std::make_shared<testing::RecordingBacking>();
    backing->setAPIKey(ProviderAPIKey::openAI, "sk-1");
    ProviderSettingsViewModel model(backing);
    EXPECT_EQ(model.text(S::openAIAPIKey), "sk-1");
    int saves = 0;
    int heard = 0;
    model.setAutoSaveAction([&] { ++saves; });
    auto token = model.observe([&] { ++heard; });

    model.load(); // nothing changed underneath
    EXPECT_EQ(saves, 29);
    EXPECT_EQ(heard, 0);

    model.setText(S::openAIModel, model.text(S::openAIModel));
    EXPECT_EQ(saves, 30);
    EXPECT_EQ(heard, 0);
    model.setFlag(S::copilotCLIUseACP, true);
    EXPECT_EQ(saves, 31);
    EXPECT_EQ(heard, 1);
}

TEST(ProviderSettingsViewModelBackingTest, SaveWritesAllValuesAsTheyAreThenCommitsOnce) {
    auto backing = std::make_shared<testing::RecordingBacking>();
    ProviderSettingsViewModel model(backing);
    model.setText(S::claudeCLICommand, "");     // cleared by the user
    model.setText(S::openRouterModel, " x/y "); // another provider's value
    model.setText(S::geminiAPIKey, "g-key");
    model.setFlag(S::openRouterFreeOnly, true);
    model.save(SummaryProvider::openAI);

    ASSERT_EQ(backing->commits, std::vector<SummaryProvider>{SummaryProvider::openAI});
    const ProviderSettingsValues& committed = backing->committedValues.front();
    EXPECT_EQ(committed.claudeCLICommand, "");
    EXPECT_EQ(committed.openRouterModel, " x/y ");
    EXPECT_TRUE(committed.openRouterFreeOnly);
    EXPECT_EQ(committed.copilotCLICommand, "copilot"); // the default the load gave
    EXPECT_EQ(backing->apiKey(ProviderAPIKey::gemini), "g-key");

    model.load();
    EXPECT_EQ(model.text(S::claudeCLICommand), "claude"); // the default only comes back on load
}

} // namespace
} // namespace velnote
