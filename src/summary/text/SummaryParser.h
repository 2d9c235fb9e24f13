#pragma once

#include "summary/core/StructuredSummaryResponse.h"

#include <string>
#include <string_view>

// Turns a provider's raw answer into the summary JSON and renders it as the
// Markdown body of "summary.md". Stateless; any thread.
namespace velnote::SummaryParser {

// The summary JSON found in `text`: the first "```json" fenced object, else
// the span from the first "{" to the last "}", decoded strictly. When that
// fails (logged), the whole trimmed text as one untitled "markdown" section.
// Never fails.
StructuredSummaryResponse parse(std::string_view text);

// "# " title, then each section's "## " heading and content, each section
// followed by an empty line; trimmed and ending in exactly one "\n".
std::string buildMarkdown(const StructuredSummaryResponse& response);

} // namespace velnote::SummaryParser
