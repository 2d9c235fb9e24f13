#pragma once

#include "platform/keychain/SecretStore.h"

#include <memory>
#include <mutex>

namespace velnote::platform {

// The user's keyring through the freedesktop Secret Service (libsecret) on the
// session bus. Items use the generic schema "org.freedesktop.Secret.Generic"
// with the attributes "service" and "account", so `secret-tool lookup service
// S account A` finds them too; values are stored as text/plain UTF-8 in the
// default collection. Without a session bus or keyring daemon every operation
// fails (reads report `unreadable`), it never blocks on a prompt of its own.
// An item in a locked collection is there but cannot be read: reads report it
// `unreadable` and add and update fail, rather than take it for a missing one.
class SecretServiceStore final : public SecretStore {
  public:
    // The process-wide instance.
    static const std::shared_ptr<SecretServiceStore>& shared();

    SecretWrite add(const SecretKey& key, std::string_view value) override;
    SecretWrite update(const SecretKey& key, std::string_view value) override;
    SecretRead read(const SecretKey& key) override;
    SecretDelete remove(const SecretKey& key) override;

  private:
    // The Secret Service has no "add unless present": add and update look for
    // the item first and then store it. The lock keeps two writers of this
    // process from both seeing "absent".
    std::mutex writeMutex_;
};

} // namespace velnote::platform
