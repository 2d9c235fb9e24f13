#pragma once

#include "platform/settings/SettingsStore.h"
#include "session/settings/UserDefaultsKey.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velnote {

// Reads and writes of the settings store keyed by UserDefaultsKey. Each call
// is the store's operation of the same meaning on rawValue(key), so an absent
// key yields the store's own answer (0, false or std::nullopt). Cheap to copy;
// thread-safe as the store is.
class UserDefaults {
  public:
    explicit UserDefaults(platform::SettingsStore& store = platform::SettingsStore::standard());

    platform::SettingsStore& store() const { return *store_; }

    double doubleValue(UserDefaultsKey key) const;
    float floatValue(UserDefaultsKey key) const;
    std::int64_t integer(UserDefaultsKey key) const;
    bool boolean(UserDefaultsKey key) const;
    std::optional<platform::SettingsValue> object(UserDefaultsKey key) const;
    std::optional<std::string> string(UserDefaultsKey key) const;
    std::optional<platform::SettingsData> data(UserDefaultsKey key) const;
    std::optional<platform::SettingsDate> date(UserDefaultsKey key) const;
    std::optional<platform::SettingsArray> array(UserDefaultsKey key) const;
    // The array only when every element is a string.
    std::optional<std::vector<std::string>> stringArray(UserDefaultsKey key) const;
    std::optional<platform::SettingsDictionary> dictionary(UserDefaultsKey key) const;
    // A stored string, as written (URLs are kept as text).
    std::optional<std::string> url(UserDefaultsKey key) const;

    void set(UserDefaultsKey key, platform::SettingsValue value) const;
    // std::nullopt removes the value.
    void setObject(UserDefaultsKey key, std::optional<platform::SettingsValue> value) const;
    void removeObject(UserDefaultsKey key) const;

    // A switch read as an object: the stored bool, else `absent` (also when the
    // stored value is not a bool).
    bool boolObject(UserDefaultsKey key, bool absent) const;
    // The string trimmed of white space and newlines; empty counts as absent.
    std::optional<std::string> trimmedString(UserDefaultsKey key) const;

  private:
    platform::SettingsStore* store_;
};

} // namespace velnote
