#include "session/keychain/KeychainHelper.h"

#include "platform/keychain/SecretServiceStore.h"
#include "session/VelnoteLogger.h"

namespace velnote {

using platform::SecretDeleteStatus;
using platform::SecretReadStatus;
using platform::SecretWriteStatus;

KeychainHelper::KeychainHelper() : KeychainHelper(platform::SecretServiceStore::shared()) {}

KeychainHelper::KeychainHelper(std::shared_ptr<platform::SecretStore> store) : store_(std::move(store)) {}

platform::SecretKey KeychainHelper::key(std::string_view account) const {
    return {kBundleIdentifier, std::string(account)};
}

std::string KeychainHelper::load(std::string_view account) const {
    return read(account).value;
}

platform::SecretRead KeychainHelper::read(std::string_view account) const {
    platform::SecretRead result = store_->read(key(account));
    if (result.status == SecretReadStatus::unreadable) {
        VelnoteLogger::app().error("KeychainHelper: read failed account={} status={} error={}", account,
                                   result.failure.status, result.failure.message);
    }
    return result;
}

void KeychainHelper::save(std::string_view value, std::string_view account) const {
    const platform::SecretWrite added = store_->add(key(account), value);
    if (added.status == SecretWriteStatus::done)
        return;
    if (added.status == SecretWriteStatus::duplicate) {
        const platform::SecretWrite updated = store_->update(key(account), value);
        if (updated.status == SecretWriteStatus::done)
            return;
        VelnoteLogger::app().error("KeychainHelper: update failed account={} status={} error={}", account,
                                   updated.failure.status, updated.failure.message);
        throw KeychainError(KeychainError::Kind::updateFailed, updated.failure.status);
    }
    VelnoteLogger::app().error("KeychainHelper: add failed account={} status={} error={}", account,
                               added.failure.status, added.failure.message);
    throw KeychainError(KeychainError::Kind::addFailed, added.failure.status);
}

void KeychainHelper::remove(std::string_view account) const {
    const platform::SecretDelete removed = store_->remove(key(account));
    if (removed.status == SecretDeleteStatus::failed) {
        VelnoteLogger::app().error("KeychainHelper: delete failed account={} status={} error={}", account,
                                   removed.failure.status, removed.failure.message);
    }
}

} // namespace velnote
