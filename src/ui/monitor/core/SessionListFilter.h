#pragma once

// The filter engine of the session list: the status, transcription-model, summary-provider and
// free-text filters, with the per-session search texts and the model choices cached once per
// change of the session list, so typing in the search field only compares. Main thread.

#include "session/folder/SessionStatusSnapshot.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velnote {

struct SessionFilters {
    std::optional<SessionStatusSnapshot::OverallStatus> status; // none: every status
    std::string whisperModel;                                   // a model name, or the all sentinel
    std::string summaryProvider; // a stored provider value, or the all sentinel
    std::string freeText;        // as typed

    // No filter: both text filters hold the all sentinel.
    static SessionFilters initial();

    bool operator==(const SessionFilters&) const = default;
};

class SessionListFilter {
  public:
    // The localized "All": a text filter holding it does not filter.
    static std::string allSentinel();
    // (stored value, label) of the providers offered for choice, fixed at first use.
    static const std::vector<std::pair<std::string, std::string>>& summaryProviderFilterOptions();

    // Lower-cased: folder name, headline, status label, model, provider label, prompt label and
    // the three step statuses, joined by single blanks.
    static std::string searchableText(const SessionStatusSnapshot& snapshot);
    // The label of the preset with that id, else the meeting-minutes label.
    static std::string summaryPromptPresetLabel(std::string_view key);

    // Recomputes the search texts and the model choices for `snapshots`.
    void rebuildCaches(const std::vector<SessionStatusSnapshot>& snapshots);
    // The snapshots that pass every filter, in their order.
    std::vector<SessionStatusSnapshot> apply(const std::vector<SessionStatusSnapshot>& snapshots,
                                             const SessionFilters& filters) const;

    // The distinct transcription models, sorted by character code.
    const std::vector<std::string>& whisperModelOptions() const { return whisperModelOptions_; }

  private:
    std::map<std::filesystem::path, std::string> searchableText_;
    std::vector<std::string> whisperModelOptions_;
};

} // namespace velnote
