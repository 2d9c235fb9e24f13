#pragma once

#include "summary/core/SummaryInputs.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Turns the texts of one session (transcript, live transcript, screen text)
// into summary input: labelled source chunks under a UTF-8 byte limit, the
// transcript's segments and its meaningful ones, highlight and keyword lines
// for the rule-based summary, merge batches of notes, truncation to a byte
// budget and the size profile of each local model. Stateless; any thread.
// Sizes are UTF-8 bytes, counts are characters (grapheme clusters). The
// time-aligned chunks and the screenshot list of this namespace are in
// TimeAlignedChunking.h and ScreenshotContext.h.
namespace velnote::SummaryContextBuilder {

// The fixed source text of screen-text entries, in every interface language.
inline constexpr std::string_view kScreenOCRSource = "画面OCR";

// The source labels in the interface language, looked up at each call.
std::string conversationRecordLabel();
std::string liveTranscriptLabel();
std::string screenOCRLabel();

// Time-aligned chunks when any of the three texts holds a timestamped entry;
// otherwise the transcript, the live transcript and the last
// max(maxOCRChunks, 1) pieces of the screen text, each split under the limit
// and labelled "<source> i/n".
std::vector<SummarySourceChunk>
buildSourceChunks(std::string_view transcript, std::string_view liveTranscript, std::string_view ocrContext,
                  std::int64_t sourceChunkByteLimit, std::int64_t maxOCRChunks);

// The lines "[… <clock>] text" of `text`, where the clock is the last or the
// first word inside the brackets; other lines and empty texts are skipped.
std::vector<TimestampedEntry> parseTimestampedLines(std::string_view text, std::string_view source);

// The screen-text entries of an OCR context, source "画面OCR": blocks
// "[<clock>] <file>\n<text>" separated by an empty line, and the records of
// "ocr_context.jsonl" ({"filename", "text", "timestamp", …} per line), each as
// "[<file>] <text>" at its timestamp.
std::vector<TimestampedEntry> parseOCRContextEntries(std::string_view ocrContext);

// "mm:ss" or "hh:mm:ss" (empty pieces dropped, each a whole number with an
// optional sign) as seconds; std::nullopt for anything else.
std::optional<float> parseTimestamp(std::string_view clock);

// Every "[label] text" line with a non-empty text, the label kept whole.
std::vector<Segment> extractSegments(std::string_view transcript);

// Speech worth summarising: 4 characters or more, no repetitive noise, and not
// only kana once punctuation is gone (when 8 characters or more remain).
bool isMeaningful(std::string_view text);

// The meaningful segments and the sum of their characters.
SummaryContext buildSummaryContext(const std::vector<Segment>& segments);

// The trimmed text cut between characters into pieces of at most `maxBytes`;
// a character larger than the limit is a piece of its own.
std::vector<std::string> splitTextByByteLimit(std::string_view text, std::int64_t maxBytes);

// The text's lines cut under the limit and gathered into batches of at most
// `maxBytes` (a piece costs its size plus 1), labelled "<prefix> i/n".
std::vector<SummarySourceChunk> splitLabeledText(std::string_view text, std::string_view prefix,
                                                 std::int64_t maxBytes);

// The notes as "- " items cut at maxBytes / 2, gathered into batches of at
// most `maxBytes`, each batch its items joined by line feeds.
std::vector<std::string> buildNoteChunks(const std::vector<std::string>& notes, std::int64_t maxBytes);

// +2 per keyword contained, + min(characters / 50, 2), −8 for repetitive noise.
std::int64_t sentenceScore(std::string_view text);

// The best-scored distinct segments as "[timestamp] text", at most `limit`
// (at least one) lines.
std::vector<std::string> topHighlights(const std::vector<Segment>& segments, std::int64_t limit);

// The segments, in order, that contain one of `keywords` (case-insensitive),
// as distinct "[timestamp] text" lines, at most `limit` (at least one).
std::vector<std::string> filteredItems(const std::vector<Segment>& segments,
                                       const std::vector<std::string>& keywords, std::int64_t limit);

// The beginning (or end) of `text` within `maxBytes`, cut between characters
// in steps of 64 characters, so it may fall short by up to 64 characters.
std::string truncateFromHead(std::string_view text, std::int64_t maxBytes);
std::string truncateFromTail(std::string_view text, std::int64_t maxBytes);

// The size limits of a local model by its exact, case-sensitive name.
GenerationProfile generationProfile(std::string_view model);

} // namespace velnote::SummaryContextBuilder
