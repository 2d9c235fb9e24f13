#pragma once

#include "processing/modelslot/ModelExecutionScheduler.h"
#include "summary/core/InterfaceLanguage.h"
#include "summary/core/SummaryInputs.h"
#include "summary/core/SummaryRequests.h"
#include "summary/local/LocalModelFiles.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

// The summary of a session written with a local GGUF model. Three roads: a short-session text
// without a model when there is too little speech, a model-written overview (one pass, or notes
// per source chunk, merged notes and a final overview), and a rule-based text from the transcript
// segments when the model gives no usable overview. Every model call of one summary runs while
// the single model slot is held (priority localSummary). No state of its own; the stages run one
// after another on the caller's thread, which they block.
namespace velnote::LlamaSummarizationPipeline {

// What a summary runs on; the standard one uses the process's generator, model slot and model
// folders. Tests swap each.
struct Environment {
    // One model call: the finished prompt, the model file and the token budget. Blocks; throws
    // platform::CancellationError once `stop` is requested, or the generator's error.
    std::function<std::string(const std::string& prompt, const std::filesystem::path& modelPath,
                              std::int64_t maxTokens, std::stop_token stop)>
        generate;
    ModelExecutionScheduler* scheduler = nullptr;
    LocalModelStore models;
    InterfaceLanguage language = InterfaceLanguage::english;

    static Environment standard();
};

// The summary text (Markdown) of `context`. Throws the model-file errors
// (NativeSummarizationError, or the file and network errors of fetching the model) and
// platform::CancellationError when `stop` was requested; every other failure of the model ends in
// the rule-based text. `preferDirectSummary` tries the whole input in one model call first;
// `customModelPath`, when it names a file, is the model whatever `context.model` says.
std::string buildGenerativeSummary(const GenerativeSummaryContext& context, bool preferDirectSummary,
                                   const std::optional<std::string>& customModelPath,
                                   std::stop_token stop = {},
                                   const Environment& environment = Environment::standard());

// The stages, for tests. Each throws what its model calls throw.

// The cleaned overview written under the model slot, or the empty text when the slot was refused
// or the model failed; throws the model-file errors and CancellationError.
std::string generateOverviewWithLlama(const GenerativeSummaryContext& context, bool preferDirectSummary,
                                      const std::optional<std::string>& customModelPath, std::stop_token stop,
                                      const Environment& environment);

// The notes of the source chunks merged batch by batch, level by level from `level`, into one
// text; the notes joined by line breaks (looping ones left out) past the deepest level (8); the
// empty text when a level's batches all come back empty.
std::string mergeIntermediateNotes(const std::vector<std::string>& notes,
                                   const std::filesystem::path& modelPath,
                                   const std::string& intermediatePrompt, const std::string& outputLanguage,
                                   std::int64_t level, const GenerationProfile& profile,
                                   const std::string& model, std::stop_token stop,
                                   const Environment& environment);

// One note per source chunk whose answer is not empty after cleaning, each saved with its prompt
// in the session's "intermediate" folder.
std::vector<std::string> generateIntermediateNotes(const IntermediateNotesRequest& request,
                                                   std::stop_token stop, const Environment& environment);

// The input of the local live summary: the head of the live transcript within `inputByteLimit`
// UTF-8 bytes, before it the tail of the previous summary in the room left, after it the head of
// the screen text in the room then left (each only when at least 65 bytes are left). Section
// titles and separators are not counted.
std::string buildLiveSummaryCombinedText(const std::string& transcript, const std::string& ocrContext,
                                         const std::string& previousSummary, std::int64_t inputByteLimit);

} // namespace velnote::LlamaSummarizationPipeline
