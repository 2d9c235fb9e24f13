#include "platform/keychain/SecretServiceStore.h"
#include "support/TestKeyring.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <random>

namespace velnote::platform {
namespace {

// Runs against the keyring daemon that scripts/test-services starts on a
// private bus. Each test uses a service name of its own.
class SecretServiceStoreServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("DBUS_SESSION_BUS_ADDRESS"), nullptr) << "run under scripts/test-services";
        key_ = {"io.hushtape.velnote.test." + std::to_string(std::random_device{}()), "openAIAPIKey"};
    }
    void TearDown() override {
        store_.remove(key_);
        store_.remove(other_());
    }
    SecretKey other_() const { return {key_.service, "claudeAPIKey"}; }

    SecretServiceStore store_;
    SecretKey key_;
};

TEST_F(SecretServiceStoreServiceTest, AddUpdateReadAndRemoveOneItem) {
    EXPECT_EQ(store_.read(key_).status, SecretReadStatus::notFound);
    EXPECT_EQ(store_.update(key_, "sk-new").status, SecretWriteStatus::notFound);
    EXPECT_EQ(store_.read(key_).status, SecretReadStatus::notFound) << "a failed update creates nothing";

    ASSERT_EQ(store_.add(key_, "sk-first").status, SecretWriteStatus::done);
    EXPECT_EQ(store_.add(key_, "sk-second").status, SecretWriteStatus::duplicate);
    EXPECT_EQ(store_.read(key_).value, "sk-first") << "a duplicate add keeps the old value";

    ASSERT_EQ(store_.update(key_, "sk-second").status, SecretWriteStatus::done);
    const SecretRead read = store_.read(key_);
    EXPECT_EQ(read.status, SecretReadStatus::found);
    EXPECT_EQ(read.value, "sk-second");

    EXPECT_EQ(store_.read(other_()).status, SecretReadStatus::notFound) << "accounts are apart";
    EXPECT_EQ(store_.remove(key_).status, SecretDeleteStatus::deleted);
    EXPECT_EQ(store_.read(key_).status, SecretReadStatus::notFound);
    EXPECT_EQ(store_.remove(key_).status, SecretDeleteStatus::notFound);
}

TEST_F(SecretServiceStoreServiceTest, KeepsEmptyAndNonAsciiValuesExactly) {
    for (const std::string value : {"", "キー-ünïcode-🔑", "line\nbreak"}) {
        store_.remove(key_);
        ASSERT_EQ(store_.add(key_, value).status, SecretWriteStatus::done);
        const SecretRead read = store_.read(key_);
        EXPECT_EQ(read.status, SecretReadStatus::found) << value;
        EXPECT_EQ(read.value, value);
    }
}

// An item written by another client with bytes that are not UTF-8 is there but
// cannot be read as a key; that is not the same as having no item.
TEST_F(SecretServiceStoreServiceTest, ReportsAValueThatIsNotUtf8AsUnreadable) {
    const std::string command = "printf '\\377\\376' | secret-tool store --label=t service " + key_.service +
                                " account " + key_.account;
    ASSERT_EQ(std::system(command.c_str()), 0);
    const SecretRead read = store_.read(key_);
    EXPECT_EQ(read.status, SecretReadStatus::unreadable);
    EXPECT_EQ(read.value, "");
    EXPECT_EQ(store_.add(key_, "sk").status, SecretWriteStatus::duplicate);
}

// The keyring passes over a locked item as if it were not there; it is there, and writing "no key"
// over it would lose the user's key once the collection is unlocked again.
TEST_F(SecretServiceStoreServiceTest, AnItemInALockedCollectionIsUnreadableNotMissing) {
    testing::TestKeyring keyring;
    keyring.store(key_.service, key_.account, "sk-locked");
    keyring.lock();

    const SecretRead read = store_.read(key_);
    EXPECT_EQ(read.status, SecretReadStatus::unreadable);
    EXPECT_EQ(read.value, "");
    EXPECT_NE(read.failure.message.find("locked"), std::string::npos) << read.failure.message;
    EXPECT_EQ(store_.add(key_, "sk-new").status, SecretWriteStatus::failed);
    EXPECT_EQ(store_.update(key_, "sk-new").status, SecretWriteStatus::failed);
    EXPECT_EQ(store_.read(other_()).status, SecretReadStatus::notFound) << "other accounts read as before";

    keyring.unlock();
    EXPECT_EQ(testing::TestKeyring::values(key_.service, key_.account), std::vector<std::string>{"sk-locked"})
        << "no second item was written beside the locked one";
}

} // namespace
} // namespace velnote::platform
