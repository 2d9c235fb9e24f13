#include "session/settings/UserDefaultsBacking.h"

#include "session/VelnoteLogger.h"
#include "support/FakeSecretStore.h"
#include "support/TempDir.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace velnote {
namespace {

using platform::SecretReadStatus;
using Keys = std::set<std::string>;

// The keys written by every commit of either variant.
const Keys kSharedKeys = {
    "localSummaryModel",
    "preferDirectSummaryForLlamaCppLocal",
    "preferDirectSummaryForAppleLocalLLM",
    "openAIModel",
    "openAIBaseURL",
    "copilotModel",
    "copilotBaseURL",
    "claudeModel",
    "claudeBaseURL",
    "claudeCLICommand",
    "copilotCLICommand",
    "copilotCLIUseACP",
    "antigravityCLICommand",
    "antigravityCLIArgs",
    "ollamaModel",
    "ollamaBaseURL",
    "geminiModel",
    "geminiBaseURL",
};

Keys with(Keys keys, std::initializer_list<const char*> more) {
    keys.insert(more.begin(), more.end());
    return keys;
}

class UserDefaultsBackingTest : public ::testing::Test {
  protected:
    UserDefaultsBacking backing(bool isLiveSummary) {
        return UserDefaultsBacking(store_, isLiveSummary, KeychainHelper(keyring_));
    }
    std::optional<std::string> stored(const std::string& key) const { return store_.string(key); }
    void putKey(const std::string& account, const std::string& value) {
        keyring_->items[{kBundleIdentifier, account}] = value;
    }
    std::optional<std::string> keyringValue(const std::string& account) const {
        const auto found = keyring_->items.find({kBundleIdentifier, account});
        if (found == keyring_->items.end())
            return std::nullopt;
        return found->second;
    }

    testing::TempDir dir_;
    platform::SettingsStore store_{dir_ / "settings.json"};
    std::shared_ptr<testing::FakeSecretStore> keyring_ = std::make_shared<testing::FakeSecretStore>();
};

TEST_F(UserDefaultsBackingTest, AnEmptyStoreLoadsEmptyValuesAndCommitsThemAll) {
    auto summary = backing(false);
    ProviderSettingsValues expected;
    expected.localSummaryModel = "qwen2.5-7b-instruct-mlx-4bit";
    EXPECT_EQ(summary.values(), expected);
    EXPECT_FALSE(summary.isSessionOverride());
    for (const auto key : kAllProviderAPIKeys)
        EXPECT_EQ(summary.apiKey(key), "");

    summary.commit(SummaryProvider::llamaCppLocal);
    EXPECT_EQ(stored("geminiModel"), "");
    EXPECT_EQ(store_.object("copilotCLIUseACP"), platform::SettingsValue(false));
    for (const char* account :
         {"openAIAPIKey", "openRouterAPIKey", "copilotAPIKey", "claudeAPIKey", "geminiAPIKey"})
        EXPECT_EQ(keyringValue(account), "") << account;
}

TEST_F(UserDefaultsBackingTest, CommitWritesExactlyTheKeysOfItsVariant) {
    const Keys summaryKeys =
        with(kSharedKeys, {"localSummaryModelPath", "openRouterModel", "openRouterFreeOnly", "claudeCLIModel",
                           "copilotCLIModel", "antigravityCLIModel"});
    const Keys liveKeys = with(
        kSharedKeys, {"liveSummaryModelPath", "liveSummaryOpenRouterModel", "liveSummaryOpenRouterFreeOnly"});
    const struct {
        bool isLiveSummary;
        SummaryProvider active;
        Keys expected;
    } cases[] = {
        {false, SummaryProvider::openAI, summaryKeys},
        {false, SummaryProvider::claudeCLI, summaryKeys},
        {true, SummaryProvider::openAI, liveKeys},
        {true, SummaryProvider::antigravityCLI, with(liveKeys, {"liveSummaryProviderModel"})},
    };
    for (const auto& c : cases) {
        testing::TempDir dir;
        platform::SettingsStore store(dir / "settings.json");
        UserDefaultsBacking committed(store, c.isLiveSummary, KeychainHelper(keyring_));
        Keys keys;
        auto token = store.observe([&](const std::string& key) { keys.insert(key); });
        committed.commit(c.active);
        EXPECT_EQ(keys, c.expected) << c.isLiveSummary << " " << rawValue(c.active);
    }
}

TEST_F(UserDefaultsBackingTest, EachVariantReadsItsOwnKeys) {
    for (const auto& [key, value] : std::map<std::string, std::string>{
             {"localSummaryModelPath", "/s.gguf"},
             {"liveSummaryModelPath", "/l.gguf"},
             {"openRouterModel", "s-router"},
             {"liveSummaryOpenRouterModel", "l-router"},
             {"claudeCLIModel", "s-claude"},
             {"copilotCLIModel", "s-copilot"},
             {"antigravityCLIModel", "s-agy"},
             {"liveSummaryProviderModel", "l-tool"},
             {"openAIModel", "  spaced  "},
         })
        store_.set(key, value);
    store_.set("liveSummaryOpenRouterFreeOnly", true);

    const auto summary = backing(false);
    EXPECT_EQ(summary.values().localSummaryModelPath, "/s.gguf");
    EXPECT_EQ(summary.values().openRouterModel, "s-router");
    EXPECT_FALSE(summary.values().openRouterFreeOnly);
    EXPECT_EQ(summary.values().claudeCLIModel, "s-claude");
    EXPECT_EQ(summary.values().openAIModel, "  spaced  ");

    const auto live = backing(true);
    EXPECT_EQ(live.values().localSummaryModelPath, "/l.gguf");
    EXPECT_EQ(live.values().openRouterModel, "l-router");
    EXPECT_TRUE(live.values().openRouterFreeOnly);
    EXPECT_EQ(live.values().claudeCLIModel, "l-tool");
    EXPECT_EQ(live.values().copilotCLIModel, "l-tool");
    EXPECT_EQ(live.values().antigravityCLIModel, "l-tool");
}

TEST_F(UserDefaultsBackingTest, TheLiveVariantStoresOnlyTheActiveToolsModel) {
    store_.set("claudeCLIModel", "s-claude");
    store_.set("copilotCLIModel", "s-copilot");
    auto live = backing(true);
    live.values().claudeCLIModel = "haiku";
    live.values().copilotCLIModel = "gpt-5";
    live.values().localSummaryModelPath = "/live.gguf";
    live.values().ollamaModel = "  spaced  ";
    live.commit(SummaryProvider::claudeCLI);

    EXPECT_EQ(stored("liveSummaryProviderModel"), "haiku");
    EXPECT_EQ(stored("claudeCLIModel"), "s-claude");
    EXPECT_EQ(stored("copilotCLIModel"), "s-copilot");
    EXPECT_EQ(stored("liveSummaryModelPath"), "/live.gguf");
    EXPECT_EQ(stored("localSummaryModelPath"), std::nullopt);
    EXPECT_EQ(stored("ollamaModel"), "  spaced  "); // stored as typed
}

TEST_F(UserDefaultsBackingTest, AKeyTheKeyringCouldNotGiveIsNeverOverwritten) {
    putKey("openAIAPIKey", "sk-open");
    putKey("claudeAPIKey", "sk-claude");
    putKey("geminiAPIKey", "sk-gemini");
    keyring_->forcedRead = platform::SecretRead{.status = SecretReadStatus::unreadable,
                                                .failure = {.status = 1, .message = "locked"}};
    auto summary = backing(false);
    keyring_->forcedRead.reset(); // unlocked by the time the user saves

    EXPECT_EQ(summary.apiKey(ProviderAPIKey::openAI), "");
    summary.setAPIKey(ProviderAPIKey::openAI, "");       // the blank field written back: no change
    summary.setAPIKey(ProviderAPIKey::claude, "sk-new"); // a key the user typed is saved
    summary.commit(SummaryProvider::openAI);

    EXPECT_EQ(keyringValue("openAIAPIKey"), "sk-open");
    EXPECT_EQ(keyringValue("claudeAPIKey"), "sk-new");
    EXPECT_EQ(keyringValue("geminiAPIKey"), "sk-gemini");
    EXPECT_EQ(keyringValue("copilotAPIKey"), std::nullopt);
    EXPECT_EQ(stored("openAIModel"), ""); // the settings are still written
}

TEST_F(UserDefaultsBackingTest, KeysThatWereReadAreSavedEvenWhenEmptied) {
    putKey("openAIAPIKey", "sk-open");
    auto summary = backing(false);
    EXPECT_EQ(summary.apiKey(ProviderAPIKey::openAI), "sk-open");
    summary.setAPIKey(ProviderAPIKey::openAI, "");
    summary.commit(SummaryProvider::openAI);
    EXPECT_EQ(keyringValue("openAIAPIKey"), "");
}

TEST_F(UserDefaultsBackingTest, AFailingKeyringDoesNotStopTheCommit) {
    keyring_->forcedAdd = platform::SecretWrite{.status = platform::SecretWriteStatus::failed,
                                                .failure = {.status = -5, .message = "denied"}};
    auto summary = backing(false);
    summary.values().geminiModel = "gemini-2";
    EXPECT_NO_THROW(summary.commit(SummaryProvider::geminiAPI));
    EXPECT_EQ(stored("geminiModel"), "gemini-2");
    EXPECT_EQ(std::count(keyring_->calls.begin(), keyring_->calls.end(), "add"), 5);
}

} // namespace
} // namespace velnote
