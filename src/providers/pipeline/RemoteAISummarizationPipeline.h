#pragma once

#include "platform/settings/SettingsStore.h"
#include "providers/pipeline/SummarizationRequest.h"

#include <exception>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

// The front of every summary the local GGUF model does not write: the chat APIs, the on-device
// model and the command-line tools. It builds the user prompt of a single-shot summary, sends one
// request to the back-end a SummarizationRequest names, and tells whether an error means the input
// did not fit the model's context window (then the caller goes through the chunked pipeline).
// It never parses the answer. Stateless; any thread; each call blocks its caller.
namespace velnote::RemoteAISummarizationPipeline {

// The parts below joined with "\n\n", a part left out leaving nothing behind: the language line
// (when `outputLanguage` is not ""), the additional context under its header (when not blank),
// the user dictionary, the transcript under its headings (always, even when empty), the live
// transcript (when not blank), then the screenshot list when not blank, else the OCR context
// under its description when not blank. Reads the user dictionary from `settings`.
std::string buildUserPrompt(std::string_view transcript, std::string_view liveTranscript,
                            std::string_view ocrContext, std::string_view outputLanguage,
                            const std::optional<std::string>& additionalContext,
                            const std::optional<std::string>& screenshotContext,
                            platform::SettingsStore& settings = platform::SettingsStore::standard());

// The back-end's answer to the request's summary prompt (system text) and `prompt` (user text),
// exactly as the client returned it. The local provider fails with invalidProvider("local") at
// once; the on-device model is asked once more without the language line when it refuses the
// output language. Every other failure passes through unchanged (CancellationError on `stop`).
std::string runProviderSummarization(const SummarizationRequest& request, const std::string& prompt,
                                     const RemoteSummaryEnvironment& environment, std::stop_token stop = {});

// Whether `error` says the input was too large for the model's context window: the on-device
// model's contextTooLarge, or a context-limit wording in an HTTP error's text, a tool's error
// output or any other error's description. A time-out or a rate limit is no context limit.
bool isContextLimitError(const std::exception& error);
bool isContextLimitError(const std::exception_ptr& error);

// "context" with one of "limit", "length", "window", "token"; or "token" with "exceed"; any case.
bool containsContextLimit(std::string_view text);

} // namespace velnote::RemoteAISummarizationPipeline
