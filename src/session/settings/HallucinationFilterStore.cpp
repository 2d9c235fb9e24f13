#include "session/settings/HallucinationFilterStore.h"

#include "session/l10n/L10n.h"
#include "session/settings/StoredList.h"

#include <span>

namespace velnote {

void to_json(platform::Json& json, const HallucinationFilterEntry& entry) {
    json = {{"id", entry.id.toString()}, {"phrase", entry.phrase}, {"isEnabled", entry.isEnabled}};
}

void from_json(const platform::Json& json, HallucinationFilterEntry& entry) {
    entry.id = decodeUuid(json, "id");
    entry.phrase = platform::required<std::string>(json, "phrase");
    entry.isEnabled = platform::required<bool>(json, "isEnabled");
}

std::vector<HallucinationFilterEntry> HallucinationFilterStore::defaults(bool japanese) {
    // One more built-in Japanese phrase is not shipped: its text is not known here.
    static constexpr const char* kJapanese[] = {"ご視聴ありがとうございました", "ありがとうございました",
                                                "チャンネル登録よろしくお願いします",
                                                "字幕は自動生成されています"};
    static constexpr const char* kEnglish[] = {"Thanks for watching", "Thank you", "Please subscribe",
                                               "Subtitles are auto-generated"};
    std::vector<HallucinationFilterEntry> entries;
    for (const char* phrase :
         japanese ? std::span<const char* const>(kJapanese) : std::span<const char* const>(kEnglish)) {
        entries.push_back({platform::Uuid::random(), phrase, true});
    }
    return entries;
}

std::vector<HallucinationFilterEntry> HallucinationFilterStore::defaults() {
    return defaults(L10n::isJapanese());
}

std::vector<HallucinationFilterEntry> HallucinationFilterStore::loadEntries(platform::SettingsStore& store) {
    auto entries = loadStoredList<HallucinationFilterEntry>(
        store, settingsKey, "failed to decode hallucination filter entries: {}");
    return entries ? std::move(*entries) : defaults();
}

void HallucinationFilterStore::saveEntries(const std::vector<HallucinationFilterEntry>& entries,
                                           platform::SettingsStore& store) {
    saveStoredList(store, settingsKey, entries, "HallucinationFilterStore: failed to encode entries: {}");
}

std::vector<std::string> HallucinationFilterStore::enabledPhrases(platform::SettingsStore& store) {
    std::vector<std::string> phrases;
    for (auto& entry : loadEntries(store)) {
        if (entry.isEnabled && !entry.phrase.empty())
            phrases.push_back(std::move(entry.phrase));
    }
    return phrases;
}

} // namespace velnote
