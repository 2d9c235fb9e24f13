#pragma once

#include "session/config/SummaryProvider.h"
#include "session/folder/SessionMetadata.h"
#include "session/settings/UserDefaults.h"

#include <filesystem>
#include <string>

namespace velnote {

// The re-summarize panel's values: the provider (a stored value, possibly naming no provider),
// one model per kind of provider, the base URL loaded from the session, and the note.
struct ResummarizeSelections {
    std::string userNote{};
    std::string selectedProvider{};
    std::string selectedClaudeCLIModel{};
    std::string selectedCopilotCLIModel{};
    std::string selectedAntigravityCLIModel{};
    std::string selectedProviderModel{};
    std::string selectedProviderBaseURL{};

    bool operator==(const ResummarizeSelections&) const = default;
};

// What a re-summarize request writes into "session.json", and how the panel starts from it.
struct ResummarizeRequest {
    // The provider the request runs with: the selected one, else the llama.cpp provider.
    static SummaryProvider kind(const ResummarizeSelections& selections);
    // The command-line model of `kind`'s own field; empty for the other providers.
    static std::string cliModel(const ResummarizeSelections& selections, SummaryProvider kind);

    // The edit: the summary configuration's provider, model, base URL, command and arguments
    // (by kind, command-line settings read from `defaults`), the trimmed note, a fresh pending
    // summary step, and no manual stop. Everything else stays.
    static void apply(SessionMetadata& metadata, const ResummarizeSelections& selections,
                      SummaryProvider kind, const std::string& cliModel, const UserDefaults& defaults);

    // apply() as a read-modify-write of the session's "session.json" under the metadata lock.
    // Throws the read, decode, encode or write error; the file then stays as it was.
    static void applyResummarizeMetadataUpdate(const std::filesystem::path& sessionDir,
                                               const ResummarizeSelections& selections, SummaryProvider kind,
                                               const std::string& cliModel, const UserDefaults& defaults);

    // Presets the panel from the session's "session.json" (read without the lock); the note
    // keeps its value. When the file cannot be read or decoded the failure is logged and only the
    // provider changes: the "summaryProvider" setting, else "local".
    static void loadProviderFromMeta(const std::filesystem::path& sessionDir, const UserDefaults& defaults,
                                     ResummarizeSelections& selections);
};

} // namespace velnote
