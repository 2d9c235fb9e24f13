#include "session/VelnoteLogger.h"
#include "session/keychain/KeychainHelper.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace velnote {
namespace {

// Against the keyring daemon of scripts/test-services.
TEST(KeychainHelperServiceTest, RoundTripsAKeyThroughTheKeyring) {
    ASSERT_NE(std::getenv("DBUS_SESSION_BUS_ADDRESS"), nullptr) << "run under scripts/test-services";
    const KeychainHelper keychain;
    const char* account = "keychainHelperServiceTest";
    keychain.remove(account);

    EXPECT_EQ(keychain.read(account).status, platform::SecretReadStatus::notFound);
    keychain.save("sk-first", account);
    keychain.save("sk-second", account);
    EXPECT_EQ(keychain.load(account), "sk-second");
    keychain.save("", account);
    EXPECT_EQ(keychain.read(account).status, platform::SecretReadStatus::found);
    EXPECT_EQ(keychain.load(account), "");

    const std::string command = std::string("secret-tool lookup service ") + kBundleIdentifier + " account " +
                                account + " >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << "the item is under the bundle identifier";
    keychain.remove(account);
    EXPECT_EQ(keychain.read(account).status, platform::SecretReadStatus::notFound);
}

} // namespace
} // namespace velnote
