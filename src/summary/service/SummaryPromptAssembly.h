#pragma once

#include "session/config/SessionConfig.h"
#include "summary/core/InterfaceLanguage.h"

#include <string>

// The summary prompt of a local run: the configured prompt, the user's note of the session
// under "## 追加指示" (when it is not blank), and the block that asks for the summary JSON, in the
// interface language (not the output language). Stateless; any thread.
namespace velnote::SummaryPromptAssembly {

// The block asking for the summary JSON: 681 bytes in English, 848 in Japanese; it begins with a
// line feed and ends without one.
std::string outputFormatBlock(InterfaceLanguage language);

std::string resolvedSummaryPrompt(const SessionConfig& config, InterfaceLanguage language);

} // namespace velnote::SummaryPromptAssembly
