#pragma once

#include "platform/concurrency/Clock.h"
#include "platform/concurrency/SystemClock.h"
#include "summary/core/SummaryInputs.h"
#include "summary/core/SummaryRequests.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Stateless text rules shared by every summary path: the output language,
// quality checks on transcript lines and model output, the cleaning of
// generated text and the rule-based summary texts. Pure functions apart from
// their log lines (category "summarize") and the clock of the texts that carry
// the time; any thread. Characters are grapheme clusters; "trim" removes white
// space and line breaks at both ends. The note files and the screenshot
// embedding of this namespace are in SummaryNoteStore.h and
// ScreenshotEmbedding.h.
namespace velnote::SummaryFormatter {

// One of "ja", "en", "zh", "zh-tw", "ko", "fr", "de", "es", "it", "pt": the
// trimmed, lower-cased value or its alias ("EN-US" → "en", "日本語" → "ja");
// anything else, blank or absent gives "ja".
std::string normalizedOutputLanguage(const std::optional<std::string>& value);

// A line that is one sound or syllable group repeated: at least 12 characters
// once punctuation and white space are gone, all one character or one unit of
// 2 to 12 characters written over and over.
bool isRepetitiveNoise(std::string_view text);

// Model output that loops: empty, repetitive noise, a Latin group of 1-4
// letters written 7 times or more, or (24 characters or more without
// punctuation) fewer than 0.18 distinct characters per character among the
// first 100.
bool looksLikeHallucinatedLoop(std::string_view text);

// Output under 400 characters, without Markdown structure, that echoes
// hesitant speech: two filler words or more, "。。" or "、、、".
bool looksLikeUnsynthesizedFillerSpeech(std::string_view text);

// An answer without headings or tables that says a summary was made
// ("議事録を作成しました") instead of being one.
bool looksLikeMetaCommentaryOnly(std::string_view text);

// Whether the first line of the trimmed text begins with "#".
bool looksLikeStructuredDocument(std::string_view text);

// The text before its first raw transcript line ("- [MIC SPEAKER_00 00:01:23] …"),
// trimmed; empty when it starts with one; unchanged without one.
std::string truncateAtRawTranscriptLine(std::string_view text);

// Generated text without chat-template end markers, reasoning block, "||"
// runs, copied transcript lines and copied summary footer; empty when what is
// left loops or is filler speech.
std::string sanitizeGeneratedOverview(std::string_view text);

// The rule-based summary texts in the interface language; `language` does not
// choose them.
SummaryTextResources summaryTextResources(std::string_view language);

// The summary of a recording too short for a model: its first two meaningful
// utterances (or a note that there were none) and the local footer.
std::string buildShortSessionSummary(const SummaryContext& context, std::string_view model,
                                     std::string_view outputLanguage,
                                     const platform::Clock& clock = platform::SystemClock::shared());

// An overview without a model: the first two highlights without their time
// stamps and the counts of decisions and TODO items, as Japanese sentences.
std::string synthesizedOverview(const std::vector<std::string>& highlights,
                                const std::vector<std::string>& decisions,
                                const std::vector<std::string>& todos, const SummaryTextResources& resources);

// Overview, highlights, decisions and TODO items as bullet lists, then the footer.
std::string buildGenerativeSummaryText(const GenerativeSummaryTextRequest& request,
                                       const platform::Clock& clock = platform::SystemClock::shared());

// "## Velnote Summary" with provider, model, engine, output language and the
// time, ending in "\n".
std::string generativeSummaryFooter(std::string_view model, std::string_view outputLanguage,
                                    const platform::Clock& clock = platform::SystemClock::shared());

} // namespace velnote::SummaryFormatter
