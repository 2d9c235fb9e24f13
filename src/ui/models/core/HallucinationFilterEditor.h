#pragma once

#include "platform/settings/SettingsStore.h"
#include "session/settings/HallucinationFilterStore.h"
#include "ui/models/core/DebouncedListEditor.h"

#include <string>

namespace velnote {

// The hallucination filter window's list: read once from the store when the editor is made, kept
// in memory while the window is closed and reopened, stored whole half a second after the last
// change. Nothing is validated: empty, padded and repeated phrases are stored as typed.
class HallucinationFilterEditor final : public DebouncedListEditor<HallucinationFilterEntry> {
  public:
    // `settings`: SettingsStore::standard() when nullptr; must outlive the editor's writes.
    explicit HallucinationFilterEditor(platform::SettingsStore* settings = nullptr,
                                       Dependencies dependencies = {});

    // Each action changes the list and plans its save; a value equal to the current one changes
    // nothing. An unknown id does nothing.
    void setEnabled(const platform::Uuid& id, bool enabled);
    void setPhrase(const platform::Uuid& id, const std::string& phrase);
    void deleteEntry(const platform::Uuid& id);
    // Appends an enabled entry with an empty phrase.
    void addEntry();
    // Replaces the whole list by the built-in phrases of the interface language, without asking.
    void resetToDefault();
};

} // namespace velnote
