#pragma once

#include "platform/concurrency/ObserverToken.h"
#include "platform/settings/SettingsFile.h"
#include "platform/settings/SettingsValue.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>

namespace velnote::platform {

// The user's settings: typed values under string keys, kept in a JSON file
// (see SettingsFile) and backed by a registration domain of defaults that is
// consulted for absent keys and never saved.
//
// Thread-safe. Every change is written to the file at once, atomically; a
// failed write is logged and retried by the next change, and the value stays
// in memory. Reads never touch the file.
class SettingsStore {
  public:
    using Observer = std::function<void(const std::string& key)>;
    // Unsubscribes when destroyed; may outlive the store.
    using ObserverToken = platform::ObserverToken;

    // Loads `file` now. A missing or corrupt file gives an empty store (see
    // SettingsFile::load).
    explicit SettingsStore(std::filesystem::path file);
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;
    ~SettingsStore();

    // The process-wide store at standardPath(), created on first use. Throws
    // NoHomeFolderError as standardPath does (and again at the next call).
    static SettingsStore& standard();
    // $XDG_CONFIG_HOME/Velnote/settings.json, else ~/.config/Velnote/settings.json
    // (an unset, empty or relative XDG_CONFIG_HOME is ignored). Throws
    // NoHomeFolderError when there is neither.
    static std::filesystem::path standardPath();

    // Adds `defaults` to the registration domain, replacing earlier defaults of
    // the same keys. Observers hear of keys whose read value changes.
    void registerDefaults(const SettingsDictionary& defaults);

    // The stored value, else the registered default, else std::nullopt; the
    // type is kept, so a bool can be told from the integer 1.
    std::optional<SettingsValue> object(std::string_view key) const;

    // Typed reads of object(key) with SettingsValue's coercions.
    // String, or a number's text; std::nullopt when absent or another type.
    std::optional<std::string> string(std::string_view key) const;
    // 0 when absent.
    std::int64_t integer(std::string_view key) const;
    // 0.0 when absent.
    double doubleValue(std::string_view key) const;
    // false when absent.
    bool boolean(std::string_view key) const;
    // The value only when it has that exact type; std::nullopt otherwise.
    std::optional<SettingsData> data(std::string_view key) const;
    std::optional<SettingsDate> date(std::string_view key) const;
    std::optional<SettingsArray> array(std::string_view key) const;
    std::optional<SettingsDictionary> dictionary(std::string_view key) const;

    // Stores `value` under `key`. Never fails: a write error is logged.
    void set(std::string_view key, SettingsValue value);
    // Removes the stored value; the registered default, if any, shows again.
    void remove(std::string_view key);

    // Calls `observer` with the key after each change of what object(key)
    // yields; storing an equal value calls nothing. Calls come on the thread
    // that made the change, after the store's locks are released, so an
    // observer may read and write the store. Destroying the token unsubscribes
    // and waits for the observer's calls running on other threads to finish.
    [[nodiscard]] ObserverToken observe(Observer observer);

  private:
    class Observers;
    struct Change {
        bool stored = false;  // the saved values changed
        bool visible = false; // what object(key) yields changed
    };

    std::optional<SettingsValue> lookup(std::string_view key) const; // under mutex_
    template <class T> std::optional<T> typed(std::string_view key) const;
    void commit(const std::string& key, Change change);
    void persist();

    mutable std::shared_mutex mutex_; // guards the three members below
    SettingsDictionary values_;
    SettingsDictionary registered_;
    std::uint64_t generation_ = 0; // bumped by every change of values_

    std::mutex writeMutex_; // guards the two members below; taken before mutex_
    SettingsFile file_;
    std::uint64_t savedGeneration_ = 0;

    std::shared_ptr<Observers> observers_;
};

} // namespace velnote::platform
