#include "ui/models/core/UserDictionaryEditor.h"

namespace velnote {
namespace {

platform::SettingsStore& storeOr(platform::SettingsStore* settings) {
    return settings != nullptr ? *settings : platform::SettingsStore::standard();
}

} // namespace

UserDictionaryEditor::UserDictionaryEditor(platform::SettingsStore* settings, Dependencies dependencies)
    : DebouncedListEditor(
          UserDictionaryStore::loadEntries(storeOr(settings)),
          [&store = storeOr(settings)](const std::vector<UserDictionaryEntry>& entries) {
              UserDictionaryStore::saveEntries(entries, store);
          },
          dependencies) {}

void UserDictionaryEditor::setWrong(const platform::Uuid& id, const std::string& wrong) {
    UserDictionaryEntry* entry = find(id);
    if (entry == nullptr || entry->wrong == wrong)
        return;
    entry->wrong = wrong;
    save();
}

void UserDictionaryEditor::setCorrect(const platform::Uuid& id, const std::string& correct) {
    UserDictionaryEntry* entry = find(id);
    if (entry == nullptr || entry->correct == correct)
        return;
    entry->correct = correct;
    save();
}

void UserDictionaryEditor::deleteEntry(const platform::Uuid& id) {
    removeEntry(id);
}

void UserDictionaryEditor::addEntry() {
    mutableEntries().push_back({.id = platform::Uuid::random(), .wrong = "", .correct = ""});
    save();
}

} // namespace velnote
