#include "session/keychain/KeychainHelper.h"

#include "platform/logging/Logger.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"
#include "support/FakeSecretStore.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using platform::SecretDeleteStatus;
using platform::SecretReadStatus;
using platform::SecretWriteStatus;

class KeychainHelperTest : public ::testing::Test {
  protected:
    std::shared_ptr<testing::FakeSecretStore> store_ = std::make_shared<testing::FakeSecretStore>();
    KeychainHelper keychain_{store_};
    platform::LogCapture log_;
};

TEST_F(KeychainHelperTest, StoresUnderTheBundleIdentifierAndReplacesThroughUpdate) {
    EXPECT_EQ(keychain_.load(KeychainHelper::openAIAPIKey), "");
    EXPECT_TRUE(log_.records().empty()) << "a missing item is not logged";

    keychain_.save("sk-one", KeychainHelper::openAIAPIKey);
    keychain_.save("sk-two", KeychainHelper::openAIAPIKey);
    EXPECT_EQ(keychain_.load(KeychainHelper::openAIAPIKey), "sk-two");
    EXPECT_EQ(store_->items.at({kBundleIdentifier, "openAIAPIKey"}), "sk-two");
    EXPECT_EQ(store_->calls, (std::vector<std::string>{"read", "add", "add", "update", "read"}));
    EXPECT_EQ(keychain_.load(KeychainHelper::claudeAPIKey), "");
}

TEST_F(KeychainHelperTest, AnEmptyKeyIsAnItemNotADeletion) {
    keychain_.save("", KeychainHelper::geminiAPIKey);
    EXPECT_EQ(store_->items.count({kBundleIdentifier, "geminiAPIKey"}), 1u);
    EXPECT_EQ(keychain_.load(KeychainHelper::geminiAPIKey), "");
    EXPECT_EQ(keychain_.read(KeychainHelper::geminiAPIKey).status, SecretReadStatus::found);
    EXPECT_EQ(keychain_.read(KeychainHelper::copilotAPIKey).status, SecretReadStatus::notFound);
}

// A key that exists but cannot be read must not look like "no key" to a caller
// that writes the keys back, or that caller would blank the stored key.
TEST_F(KeychainHelperTest, AnUnreadableKeyIsToldApartFromAMissingOne) {
    store_->items[{kBundleIdentifier, "openRouterAPIKey"}] = "sk-kept";
    store_->forcedRead = platform::SecretRead{.status = SecretReadStatus::unreadable,
                                              .failure = {.status = 2, .message = "collection is locked"}};

    const platform::SecretRead read = keychain_.read(KeychainHelper::openRouterAPIKey);
    EXPECT_EQ(read.status, SecretReadStatus::unreadable);
    EXPECT_EQ(read.value, "");
    EXPECT_EQ(keychain_.load(KeychainHelper::openRouterAPIKey), "") << "load keeps its plain contract";
    ASSERT_EQ(log_.records().size(), 2u);
    EXPECT_EQ(log_.records()[0].message,
              "KeychainHelper: read failed account=openRouterAPIKey status=2 error=collection is locked");
    EXPECT_EQ(log_.records()[0].level, platform::LogLevel::error);
    EXPECT_EQ(log_.records()[0].category, "app");
    EXPECT_EQ(store_->items.at({kBundleIdentifier, "openRouterAPIKey"}), "sk-kept");
}

TEST_F(KeychainHelperTest, FailedWritesThrowWithTheStatusAndKeepTheOldValue) {
    store_->forcedAdd = platform::SecretWrite{.status = SecretWriteStatus::failed,
                                              .failure = {.status = -5, .message = "no keyring"}};
    try {
        keychain_.save("sk-new", KeychainHelper::claudeAPIKey);
        FAIL() << "expected KeychainError";
    } catch (const KeychainError& e) {
        EXPECT_EQ(e.kind(), KeychainError::Kind::addFailed);
        EXPECT_EQ(e.status(), -5);
        EXPECT_EQ(std::string(e.what()), L10n::localized("L10n.Keychain.addFailed",
                                                         "Failed to save to Keychain (status: %d)", {-5}));
        EXPECT_NE(std::string(e.what()).find("-5"), std::string::npos);
    }
    EXPECT_TRUE(log_.contains("KeychainHelper: add failed account=claudeAPIKey status=-5"));

    store_->forcedAdd.reset();
    store_->items[{kBundleIdentifier, "claudeAPIKey"}] = "sk-old";
    store_->forcedUpdate = platform::SecretWrite{.status = SecretWriteStatus::failed,
                                                 .failure = {.status = 7, .message = "denied"}};
    try {
        keychain_.save("sk-new", KeychainHelper::claudeAPIKey);
        FAIL() << "expected KeychainError";
    } catch (const KeychainError& e) {
        EXPECT_EQ(e.kind(), KeychainError::Kind::updateFailed);
        EXPECT_EQ(e.status(), 7);
    }
    EXPECT_TRUE(log_.contains("KeychainHelper: update failed account=claudeAPIKey status=7"));
    EXPECT_EQ(store_->items.at({kBundleIdentifier, "claudeAPIKey"}), "sk-old");
    for (const auto& record : log_.records())
        EXPECT_EQ(record.message.find("sk-new"), std::string::npos);
}

TEST_F(KeychainHelperTest, DeletingIsSilentUnlessTheStoreFails) {
    store_->items[{kBundleIdentifier, "copilotAPIKey"}] = "sk";
    keychain_.remove(KeychainHelper::copilotAPIKey);
    keychain_.remove(KeychainHelper::copilotAPIKey);
    EXPECT_TRUE(store_->items.empty());
    EXPECT_TRUE(log_.records().empty());

    store_->forcedRemove = platform::SecretDelete{.status = SecretDeleteStatus::failed,
                                                  .failure = {.status = 3, .message = "gone"}};
    keychain_.remove(KeychainHelper::copilotAPIKey);
    EXPECT_TRUE(log_.contains("KeychainHelper: delete failed account=copilotAPIKey status=3"));
}

} // namespace
} // namespace velnote
