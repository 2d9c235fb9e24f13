#pragma once

#include "platform/settings/SettingsStore.h"
#include "session/settings/UserDictionaryStore.h"
#include "ui/models/core/DebouncedListEditor.h"

#include <string>

namespace velnote {

// The user dictionary window's list of correction pairs, kept and saved as the hallucination
// filter's list is. There is no built-in list and no reset; nothing is validated.
class UserDictionaryEditor final : public DebouncedListEditor<UserDictionaryEntry> {
  public:
    // `settings`: SettingsStore::standard() when nullptr; must outlive the editor's writes.
    explicit UserDictionaryEditor(platform::SettingsStore* settings = nullptr,
                                  Dependencies dependencies = {});

    // A value equal to the current one, or an unknown id, changes nothing.
    void setWrong(const platform::Uuid& id, const std::string& wrong);
    void setCorrect(const platform::Uuid& id, const std::string& correct);
    void deleteEntry(const platform::Uuid& id);
    // Appends a pair with both sides empty.
    void addEntry();
};

} // namespace velnote
