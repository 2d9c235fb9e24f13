#pragma once

#include "platform/settings/SettingsStore.h"
#include "summary/core/InterfaceLanguage.h"
#include "summary/core/SummaryInputs.h"

#include <string>
#include <string_view>

// The complete prompt texts of the local GGUF models: the ChatML frame, the
// final overview over one labelled chunk and the compression of one source
// chunk into an intermediate note. Fixed instructions follow the interface
// language. Pure functions of their arguments, the localized titles and the
// user dictionary; any thread.
namespace velnote::SummaryPromptBuilder {

// "<|im_start|>system\n" system "<|im_end|>\n<|im_start|>user\n" user
// "<|im_end|>\n<|im_start|>assistant", with " /no_think" after the user text
// for "qwen3…" models (in any letter case). The two marker texts are removed
// from `systemPrompt` and `userMessage` first, so a transcript cannot open a
// turn of its own.
std::string buildLlamaPrompt(std::string_view userMessage, std::string_view systemPrompt,
                             std::string_view model);

// The final Markdown overview written from one chunk alone.
std::string
buildSinglePassOverviewPrompt(const SummarySourceChunk& chunk, std::string_view summaryPrompt,
                              std::string_view outputLanguage, std::string_view model,
                              InterfaceLanguage language = currentInterfaceLanguage(),
                              platform::SettingsStore& settings = platform::SettingsStore::standard());

// The facts of one source chunk as bullet points, under the configured
// intermediate prompt (never a model-specific variant) or the default rules.
std::string
buildChunkCompressionPrompt(const SummarySourceChunk& chunk, std::string_view intermediatePrompt,
                            std::string_view outputLanguage, std::string_view model,
                            InterfaceLanguage language = currentInterfaceLanguage(),
                            platform::SettingsStore& settings = platform::SettingsStore::standard());

} // namespace velnote::SummaryPromptBuilder
