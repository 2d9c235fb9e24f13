#pragma once

#include "platform/json/Json.h"
#include "platform/settings/SettingsStore.h"
#include "platform/text/Uuid.h"

#include <string>
#include <vector>

namespace velnote {

// A phrase that speech recognition tends to invent on silence or noise.
struct HallucinationFilterEntry {
    platform::Uuid id;
    std::string phrase;
    bool isEnabled = true;

    bool operator==(const HallucinationFilterEntry&) const = default;
};

// JSON {"id": "<UUID>", "phrase": "...", "isEnabled": true}; every key required.
void to_json(platform::Json& json, const HallucinationFilterEntry& entry);
void from_json(const platform::Json& json, HallucinationFilterEntry& entry);

// The user's hallucination filter: the whole list as compact JSON bytes (a
// data value) under the settings key "hallucinationFilterEntries". No state of
// its own; every call reads the settings again. Never throws.
class HallucinationFilterStore {
  public:
    static constexpr const char* settingsKey = "hallucinationFilterEntries";

    // The built-in phrases, all enabled, each with a fresh id, in the interface
    // language by default.
    static std::vector<HallucinationFilterEntry> defaults(bool japanese);
    static std::vector<HallucinationFilterEntry> defaults();

    // The stored list, also when empty; the defaults when nothing is stored
    // (or not as data) or when the stored list cannot be decoded (logged; the
    // stored bytes stay until the next save).
    static std::vector<HallucinationFilterEntry>
    loadEntries(platform::SettingsStore& store = platform::SettingsStore::standard());
    // Replaces the stored list.
    static void saveEntries(const std::vector<HallucinationFilterEntry>& entries,
                            platform::SettingsStore& store = platform::SettingsStore::standard());
    // The phrases of the loaded list whose entry is enabled and whose phrase is
    // not empty (a phrase of spaces counts), in list order.
    static std::vector<std::string>
    enabledPhrases(platform::SettingsStore& store = platform::SettingsStore::standard());
};

} // namespace velnote
