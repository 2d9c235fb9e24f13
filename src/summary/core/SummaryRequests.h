#pragma once

#include "platform/text/Regex.h"
#include "summary/core/SummaryInputs.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The request records handed between the steps of a local summary and to the
// formatter. Plain values.

namespace velnote {

// The input of a local summary, built by the session summary service.
struct GenerativeSummaryContext {
    std::filesystem::path sessionDir;
    std::string transcript;                       // "transcript.txt"
    std::string liveTranscript;                   // "transcript.live.txt", empty when missing
    std::string ocrContext;                       // "ocr_context.jsonl", empty when missing
    std::optional<std::string> screenshotContext; // the screenshot list offered to the model
    SummaryContext summaryContext;                // the transcript's meaningful segments
    std::string model;                            // local model name of the session's configuration
    std::string summaryPrompt;                    // with user note and output-format block
    std::string intermediatePrompt;
    std::string outputLanguage; // normalised code
};

// The parts of a rule-based local summary text.
struct GenerativeSummaryTextRequest {
    std::string overview;
    std::vector<std::string> highlights;
    std::vector<std::string> decisions;
    std::vector<std::string> todos;
    SummaryTextResources resources;
    std::string model;
    std::string outputLanguage;
};

// A downloadable local model.
struct ModelSpec {
    std::string id; // model name
    std::string fileName;
    std::string downloadURL; // the GGUF file on the model hub
};

struct SinglePassOverviewRequest {
    SummarySourceChunk chunk;
    std::string summaryPrompt;
    std::string outputLanguage;
    std::filesystem::path modelPath; // the GGUF file
    std::string model;
    std::int64_t maxTokens = 0;
};

struct HierarchicalOverviewRequest {
    std::filesystem::path sessionDir;
    std::string transcript;
    std::string liveTranscript;
    std::string ocrContext;
    std::optional<std::string> screenshotContext;
    std::filesystem::path modelPath;
    std::string summaryPrompt;
    std::string intermediatePrompt;
    std::string outputLanguage;
    std::string model;
};

struct MergedHierarchicalOverviewRequest {
    std::vector<SummarySourceChunk> sourceChunks;
    GenerationProfile profile;
    std::string intermediatePrompt;
    std::string outputLanguage;
    std::filesystem::path modelPath;
    std::filesystem::path sessionDir;
    std::string summaryPrompt;
    std::string model;
    std::optional<std::string> screenshotContext;
    std::string transcript;
};

struct IntermediateNotesRequest {
    std::vector<SummarySourceChunk> sourceChunks;
    GenerationProfile profile;
    std::string intermediatePrompt;
    std::string outputLanguage;
    std::filesystem::path modelPath;
    std::filesystem::path sessionDir;
    std::string model;
};

// One screenshot placeholder of a summary to replace.
struct PlaceholderReplacementRequest {
    // The placeholder's match: [0] the whole reference, [1] the alternative
    // text, [2] the file name; offsets are bytes of `markdown`.
    platform::RegexMatch match;
    std::string_view markdown; // the whole text the offsets refer to; outlives the request

    std::filesystem::path screencapturesDir;
    bool embedImages = false;
    std::int64_t maxCount = 0; // images embedded at most per summary
    std::int64_t maxKB = 0;    // JPEG size limit per image, in KiB
    std::int64_t maxWidth = 0; // widest embedded image, in pixels
};

} // namespace velnote
