#include "session/settings/UserDictionaryStore.h"

#include "session/settings/StoredList.h"

namespace velnote {

void to_json(platform::Json& json, const UserDictionaryEntry& entry) {
    json = {{"id", entry.id.toString()}, {"wrong", entry.wrong}, {"correct", entry.correct}};
}

void from_json(const platform::Json& json, UserDictionaryEntry& entry) {
    entry.id = decodeUuid(json, "id");
    entry.wrong = platform::required<std::string>(json, "wrong");
    entry.correct = platform::required<std::string>(json, "correct");
}

std::vector<UserDictionaryEntry> UserDictionaryStore::loadEntries(platform::SettingsStore& store) {
    return loadStoredList<UserDictionaryEntry>(store, settingsKey, "failed to decode user dictionary: {}")
        .value_or(std::vector<UserDictionaryEntry>{});
}

void UserDictionaryStore::saveEntries(const std::vector<UserDictionaryEntry>& entries,
                                      platform::SettingsStore& store) {
    saveStoredList(store, settingsKey, entries, "UserDictionaryStore: failed to encode entries: {}");
}

} // namespace velnote
