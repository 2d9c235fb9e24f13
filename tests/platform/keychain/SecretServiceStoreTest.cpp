#include "platform/keychain/SecretServiceStore.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace velnote::platform {
namespace {

using velnote::testing::ScopedEnv;
using velnote::testing::TempDir;

// With no session bus to reach, every operation fails at once instead of
// hanging or pretending that the keyring is empty.
TEST(SecretServiceStoreTest, FailsWithoutASessionBus) {
    TempDir dir;
    ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (dir / "no-bus").string());
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path().string());
    ScopedEnv display("DISPLAY", std::nullopt);
    SecretServiceStore store;
    const SecretKey key{"io.hushtape.velnote.test", "openAIAPIKey"};

    const SecretRead read = store.read(key);
    EXPECT_EQ(read.status, SecretReadStatus::unreadable);
    EXPECT_EQ(read.value, "");
    EXPECT_FALSE(read.failure.message.empty());

    const SecretWrite added = store.add(key, "sk-test");
    EXPECT_EQ(added.status, SecretWriteStatus::failed);
    EXPECT_NE(added.failure.status, 0);
    EXPECT_EQ(store.update(key, "sk-test").status, SecretWriteStatus::failed);
    EXPECT_EQ(store.remove(key).status, SecretDeleteStatus::failed);
}

} // namespace
} // namespace velnote::platform
