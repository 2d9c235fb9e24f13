#pragma once

#include "platform/json/Json.h"
#include "platform/settings/SettingsStore.h"
#include "platform/text/Uuid.h"

#include <string>
#include <vector>

namespace velnote {

// A correction pair: what recognition produces and what to use instead.
struct UserDictionaryEntry {
    platform::Uuid id;
    std::string wrong;
    std::string correct;

    bool operator==(const UserDictionaryEntry&) const = default;
};

// JSON {"id": "<UUID>", "wrong": "...", "correct": "..."}; every key required.
void to_json(platform::Json& json, const UserDictionaryEntry& entry);
void from_json(const platform::Json& json, UserDictionaryEntry& entry);

// The user dictionary: the whole list as compact JSON bytes (a data value)
// under the settings key "userDictionaryEntries". No state of its own. Never
// throws.
class UserDictionaryStore {
  public:
    static constexpr const char* settingsKey = "userDictionaryEntries";

    // The stored list; empty when nothing is stored or it cannot be decoded (logged).
    static std::vector<UserDictionaryEntry>
    loadEntries(platform::SettingsStore& store = platform::SettingsStore::standard());
    // Replaces the stored list.
    static void saveEntries(const std::vector<UserDictionaryEntry>& entries,
                            platform::SettingsStore& store = platform::SettingsStore::standard());
};

} // namespace velnote
