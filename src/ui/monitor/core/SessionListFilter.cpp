#include "ui/monitor/core/SessionListFilter.h"

#include "platform/json/RawValue.h"
#include "platform/text/CaseMapping.h"
#include "platform/text/Whitespace.h"
#include "processing/sessions/SessionOverallStatus.h"
#include "session/config/PromptCatalog.h"
#include "session/config/SummaryProvider.h"
#include "session/l10n/L10n.h"

#include <set>

namespace velnote {

SessionFilters SessionFilters::initial() {
    return SessionFilters{.status = std::nullopt,
                          .whisperModel = SessionListFilter::allSentinel(),
                          .summaryProvider = SessionListFilter::allSentinel(),
                          .freeText = {}};
}

std::string SessionListFilter::allSentinel() {
    return L10n::localized("L10n.Common.all", "All");
}

const std::vector<std::pair<std::string, std::string>>& SessionListFilter::summaryProviderFilterOptions() {
    static const std::vector<std::pair<std::string, std::string>> options = [] {
        std::vector<std::pair<std::string, std::string>> pairs;
        for (const SummaryProvider provider : availableProviders())
            pairs.emplace_back(std::string(rawValue(provider)), label(provider));
        return pairs;
    }();
    return options;
}

std::string SessionListFilter::summaryPromptPresetLabel(std::string_view key) {
    for (const PromptOption& option : PromptCatalog::options()) {
        if (option.id == key)
            return option.label;
    }
    return L10n::localized("L10n.Prompts.minutesWriterLabel", "Meeting Minutes Writer");
}

std::string SessionListFilter::searchableText(const SessionStatusSnapshot& snapshot) {
    const SessionConfig& config = snapshot.config;
    const auto provider = platform::fromRawValue<SummaryProvider>(config.summary.provider);
    const std::string promptKey = config.summary.promptKey.value_or("");
    const std::string promptLabel = promptKey == "custom" ? L10n::localized("L10n.Common.custom", "Custom")
                                                          : summaryPromptPresetLabel(promptKey);
    const std::string parts[] = {
        snapshot.dirName,
        snapshot.summaryHeadline.value_or(""),
        SessionOverallStatus::label(SessionOverallStatus::of(snapshot)),
        config.transcription.whisperModel,
        provider ? label(*provider) : config.summary.provider,
        promptLabel,
        std::string(rawValue(snapshot.transcription.status)),
        std::string(rawValue(snapshot.diarization.status)),
        std::string(rawValue(snapshot.summary.status)),
    };
    std::string joined;
    for (const std::string& part : parts) {
        if (&part != &parts[0])
            joined += ' ';
        joined += part;
    }
    return platform::lowercased(joined);
}

void SessionListFilter::rebuildCaches(const std::vector<SessionStatusSnapshot>& snapshots) {
    std::map<std::filesystem::path, std::string> texts;
    std::set<std::string> models;
    for (const SessionStatusSnapshot& snapshot : snapshots) {
        texts.insert_or_assign(snapshot.id, searchableText(snapshot));
        models.insert(snapshot.config.transcription.whisperModel);
    }
    searchableText_ = std::move(texts);
    whisperModelOptions_.assign(models.begin(), models.end());
}

std::vector<SessionStatusSnapshot>
SessionListFilter::apply(const std::vector<SessionStatusSnapshot>& snapshots,
                         const SessionFilters& filters) const {
    const std::string all = allSentinel();
    const std::string query = platform::lowercased(platform::trimWhitespace(filters.freeText));
    std::vector<SessionStatusSnapshot> passed;
    for (const SessionStatusSnapshot& snapshot : snapshots) {
        if (filters.status && *filters.status != SessionOverallStatus::of(snapshot))
            continue;
        if (filters.whisperModel != all && filters.whisperModel != snapshot.config.transcription.whisperModel)
            continue;
        if (filters.summaryProvider != all && filters.summaryProvider != snapshot.config.summary.provider)
            continue;
        if (!query.empty()) {
            const auto cached = searchableText_.find(snapshot.id);
            const std::string text =
                cached != searchableText_.end() ? cached->second : searchableText(snapshot);
            if (text.find(query) == std::string::npos)
                continue;
        }
        passed.push_back(snapshot);
    }
    return passed;
}

} // namespace velnote
