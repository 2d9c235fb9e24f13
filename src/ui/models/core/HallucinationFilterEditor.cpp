#include "ui/models/core/HallucinationFilterEditor.h"

namespace velnote {
namespace {

platform::SettingsStore& storeOr(platform::SettingsStore* settings) {
    return settings != nullptr ? *settings : platform::SettingsStore::standard();
}

} // namespace

HallucinationFilterEditor::HallucinationFilterEditor(platform::SettingsStore* settings,
                                                     Dependencies dependencies)
    : DebouncedListEditor(
          HallucinationFilterStore::loadEntries(storeOr(settings)),
          [&store = storeOr(settings)](const std::vector<HallucinationFilterEntry>& entries) {
              HallucinationFilterStore::saveEntries(entries, store);
          },
          dependencies) {}

void HallucinationFilterEditor::setEnabled(const platform::Uuid& id, bool enabled) {
    HallucinationFilterEntry* entry = find(id);
    if (entry == nullptr || entry->isEnabled == enabled)
        return;
    entry->isEnabled = enabled;
    save();
}

void HallucinationFilterEditor::setPhrase(const platform::Uuid& id, const std::string& phrase) {
    HallucinationFilterEntry* entry = find(id);
    if (entry == nullptr || entry->phrase == phrase)
        return;
    entry->phrase = phrase;
    save();
}

void HallucinationFilterEditor::deleteEntry(const platform::Uuid& id) {
    removeEntry(id);
}

void HallucinationFilterEditor::addEntry() {
    mutableEntries().push_back({.id = platform::Uuid::random(), .phrase = "", .isEnabled = true});
    save();
}

void HallucinationFilterEditor::resetToDefault() {
    mutableEntries() = HallucinationFilterStore::defaults();
    save();
}

} // namespace velnote
