#pragma once

#include "platform/settings/SettingsStore.h"
#include "summary/core/InterfaceLanguage.h"
#include "summary/core/SummaryInputs.h"

#include <optional>
#include <string>
#include <string_view>

// The prompt pieces shared by the local and the remote hierarchical
// summaries: the time range of a diarized transcript, the directives of a
// final summary and of an intermediate note (shortened for small local
// models), the output-language instruction, the user-dictionary hint, and the
// system and user texts of one intermediate-note request. Fixed texts follow
// the interface language; the output-language instruction is English always.
// Stateless; any thread.
namespace velnote::SummaryChunkingUtils {

// "00:00:05–00:45:10（approx. 45m5s）" from the first and last
// "[SPEAKER_xx hh:mm:ss]" stamps; std::nullopt without two different ones.
std::optional<std::string>
extractTranscriptTimeRange(std::string_view transcript,
                           InterfaceLanguage language = currentInterfaceLanguage());

// The directive of a final summary: a short fixed one for the small local
// models, a table-friendly one for "qwen3-8b…" and "qwen2.5-7b…", otherwise
// the trimmed prompt or, when blank, the default minutes prompt.
std::string compactSummaryDirective(std::string_view prompt, std::string_view model,
                                    InterfaceLanguage language = currentInterfaceLanguage());

// The directive of an intermediate note: a short fixed one for the small local
// models, otherwise the trimmed prompt or, when blank, the default note rules.
std::string compactIntermediateDirective(std::string_view prompt, std::string_view model,
                                         InterfaceLanguage language = currentInterfaceLanguage());

// "Output entirely in <language>. …" for a normalised code; Japanese for any
// code it does not know (so also "zh-TW" in upper case).
std::string buildOutputLanguageInstruction(std::string_view code);

// The user dictionary's complete entries under a localized header, one
// "- wrong -> correct" line each; empty without such entries.
std::string userDictionaryHint(platform::SettingsStore& settings = platform::SettingsStore::standard());

// The text fixing the output language, then the fact-extraction rules.
std::string noteSystemText(std::string_view outputLanguage,
                           InterfaceLanguage language = currentInterfaceLanguage());

// True when `directive` already carries one of the note-guideline markers, so
// no second header is put above it.
bool hasGuidelineMarker(std::string_view directive);

// The directive under a "【Intermediate Note Guidelines】" header (none when
// it carries a marker), then the chunk as "【Target Fragment: label】" and its text.
std::string noteGuidelinesAndFragment(std::string_view directive, const SummarySourceChunk& chunk);

struct NoteRequest {
    std::string system;
    std::string user;

    bool operator==(const NoteRequest&) const = default;
};

// The request of one chunk's intermediate note: guidelines, the chunk as
// "【Target Fragment: label】", the dictionary hint and the chunk's screenshot
// hint when not blank.
NoteRequest chunkNoteContent(const SummarySourceChunk& chunk, std::string_view intermediatePrompt,
                             std::string_view outputLanguage,
                             const std::optional<std::string>& chunkScreenshotHint, std::string_view model,
                             InterfaceLanguage language = currentInterfaceLanguage(),
                             platform::SettingsStore& settings = platform::SettingsStore::standard());

} // namespace velnote::SummaryChunkingUtils
