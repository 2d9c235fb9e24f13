#include "session/VelnoteLogger.h"
#include "session/settings/UserDefaultsBacking.h"
#include "support/TempDir.h"
#include "support/TestKeyring.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace velnote {
namespace {

// Against the keyring daemon of scripts/test-services: the user opens the provider settings while
// the keyring is locked, unlocks it, then saves. The key they could not see must survive.
TEST(UserDefaultsBackingServiceTest, AKeyLockedAtLoadSurvivesTheCommit) {
    ASSERT_NE(std::getenv("DBUS_SESSION_BUS_ADDRESS"), nullptr) << "run under scripts/test-services";
    testing::TempDir dir;
    platform::SettingsStore settings(dir / "settings.json");
    const KeychainHelper keychain;
    const std::string account(keychainAccount(ProviderAPIKey::openAI));
    testing::TestKeyring keyring;
    keyring.store(kBundleIdentifier, account, "sk-kept");

    keyring.lock();
    UserDefaultsBacking backing(settings, false, keychain);
    EXPECT_EQ(backing.apiKey(ProviderAPIKey::openAI), "");
    keyring.unlock();
    backing.commit(SummaryProvider::openAI);

    EXPECT_EQ(testing::TestKeyring::values(kBundleIdentifier, account), std::vector<std::string>{"sk-kept"})
        << "no empty key was written beside the locked one";
    for (const ProviderAPIKey key : kAllProviderAPIKeys)
        keychain.remove(keychainAccount(key));
}

} // namespace
} // namespace velnote
