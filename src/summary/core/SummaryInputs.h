#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velnote {

// One line of the session transcript as read for summaries.
struct Segment {
    std::string timestamp; // the line's bracket label without the brackets ("MIC SPEAKER_00 00:01:23")
    std::string text;      // the spoken text

    bool operator==(const Segment&) const = default;
};

// The transcript as the rule-based parts of a summary see it.
struct SummaryContext {
    std::vector<Segment> meaningfulSegments; // in transcript order
    std::int64_t totalTextLength = 0;        // characters (grapheme clusters) of their texts, not bytes

    bool operator==(const SummaryContext&) const = default;
};

// One input entry placed on the recording's time line, before chunking.
struct TimestampedEntry {
    std::string source;  // the conversation-record or live-transcript label, or "画面OCR" for screen text
    float startTime = 0; // seconds since the recording started
    std::string text;

    bool operator==(const TimestampedEntry&) const = default;
};

// One labelled piece of summary input: the unit chunked summaries work on.
struct SummarySourceChunk {
    std::string label; // names the source and, for time-aligned chunks, the stretch; also in note file names
    std::string text;

    bool operator==(const SummarySourceChunk&) const = default;
};

// The size limits of one local model.
struct GenerationProfile {
    std::int64_t sourceChunkByteLimit = 0;   // UTF-8 bytes of one source chunk
    std::int64_t mergeChunkByteLimit = 0;    // UTF-8 bytes of one batch of notes merged in one step
    std::int64_t chunkSummaryMaxTokens = 0;  // tokens of the note of one source chunk
    std::int64_t mergeSummaryMaxTokens = 0;  // tokens of one merge step
    std::int64_t finalOverviewMaxTokens = 0; // tokens of the final overview
    std::int64_t maxOCRChunks = 0;           // chunks made from the screen text on the untimed path

    bool operator==(const GenerationProfile&) const = default;
};

// The texts rule-based summaries are written with, in the interface language.
struct SummaryTextResources {
    std::string highlightsHeading;
    std::string overviewHeading;
    std::string decisionsHeading;
    std::string todoHeading;
    std::string notesHeading;
    std::string noHighlights;                 // no meaningful utterance was found
    std::string noSpecialItems;               // a list without entries
    std::string shortSessionNoSpeech;         // a short session without meaningful speech
    std::string shortSessionPrefix;           // lead-in of a short session's main utterances
    std::string shortSessionMemo;             // extraction is limited for a short session
    std::string fallbackOverviewInsufficient; // utterances exist but do not make key points

    bool operator==(const SummaryTextResources&) const = default;
};

} // namespace velnote
