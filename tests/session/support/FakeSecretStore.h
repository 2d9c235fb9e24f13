#pragma once

#include "platform/keychain/SecretStore.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velnote::testing {

// An in-memory keyring. Each operation can be made to fail (or to report a
// scripted result) by setting the matching `forced*` member; calls are logged
// by name ("add", "update", "read", "remove").
class FakeSecretStore final : public platform::SecretStore {
  public:
    platform::SecretWrite add(const platform::SecretKey& key, std::string_view value) override {
        std::lock_guard lock(mutex_);
        calls.push_back("add");
        if (forcedAdd)
            return *forcedAdd;
        if (items.count(id(key)))
            return {platform::SecretWriteStatus::duplicate, {}};
        items[id(key)] = std::string(value);
        return {};
    }
    platform::SecretWrite update(const platform::SecretKey& key, std::string_view value) override {
        std::lock_guard lock(mutex_);
        calls.push_back("update");
        if (forcedUpdate)
            return *forcedUpdate;
        if (!items.count(id(key)))
            return {platform::SecretWriteStatus::notFound, {}};
        items[id(key)] = std::string(value);
        return {};
    }
    platform::SecretRead read(const platform::SecretKey& key) override {
        std::lock_guard lock(mutex_);
        calls.push_back("read");
        if (forcedRead)
            return *forcedRead;
        const auto found = items.find(id(key));
        if (found == items.end())
            return {platform::SecretReadStatus::notFound, "", {}};
        return {platform::SecretReadStatus::found, found->second, {}};
    }
    platform::SecretDelete remove(const platform::SecretKey& key) override {
        std::lock_guard lock(mutex_);
        calls.push_back("remove");
        if (forcedRemove)
            return *forcedRemove;
        return {items.erase(id(key)) ? platform::SecretDeleteStatus::deleted
                                     : platform::SecretDeleteStatus::notFound,
                {}};
    }

    // (service, account) → value.
    std::map<std::pair<std::string, std::string>, std::string> items;
    std::vector<std::string> calls;
    std::optional<platform::SecretWrite> forcedAdd;
    std::optional<platform::SecretWrite> forcedUpdate;
    std::optional<platform::SecretRead> forcedRead;
    std::optional<platform::SecretDelete> forcedRemove;

  private:
    static std::pair<std::string, std::string> id(const platform::SecretKey& key) {
        return {key.service, key.account};
    }
    std::mutex mutex_;
};

} // namespace velnote::testing
