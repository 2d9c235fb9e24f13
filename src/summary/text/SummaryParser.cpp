#include "summary/text/SummaryParser.h"

#include "platform/text/Split.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"

#include <optional>
#include <vector>

namespace velnote::SummaryParser {

namespace {

using platform::leadingWhitespaceLength;

// The object of the first "```" + optional "json" + white space + "{…}" +
// white space + "```", the "{…}" as short as it can be: what the pattern
// "```(?:json)?\s*(\{.*?\})\s*```" ("." across lines) captures, found by a
// scan that stays linear on long answers full of braces and fences.
std::optional<std::string_view> fencedObject(std::string_view text) {
    for (std::size_t fence = text.find("```"); fence != std::string_view::npos;
         fence = text.find("```", fence + 1)) {
        std::size_t open = fence + 3;
        if (text.substr(open, 4) == "json")
            open += 4;
        open += leadingWhitespaceLength(text.substr(open));
        if (open >= text.size() || text[open] != '{')
            continue;
        for (std::size_t close = text.find('}', open + 1); close != std::string_view::npos;
             close = text.find('}', close + 1)) {
            const std::size_t after = close + 1 + leadingWhitespaceLength(text.substr(close + 1));
            if (text.substr(after, 3) == "```")
                return text.substr(open, close - open + 1);
        }
        // No "}" after this "{" reaches a closing fence, so none after a later one can.
        return std::nullopt;
    }
    return std::nullopt;
}

std::string_view braceSpan(std::string_view text) {
    if (!text.empty() && text.front() == '{' && text.back() == '}')
        return text;
    const std::size_t open = text.find('{');
    const std::size_t close = text.rfind('}');
    if (open != std::string_view::npos && close != std::string_view::npos && close > open)
        return text.substr(open, close - open + 1);
    return text;
}

StructuredSummaryResponse rawMarkdown(std::string content) {
    return {.title = "", .sections = {{.heading = "", .format = "markdown", .content = std::move(content)}}};
}

} // namespace

StructuredSummaryResponse parse(std::string_view text) {
    const std::string trimmed = platform::trimWhitespace(text);
    const std::string_view candidate = fencedObject(trimmed).value_or(braceSpan(trimmed));
    try {
        return platform::decode<StructuredSummaryResponse>(platform::parseJson(candidate));
    } catch (const platform::JsonDecodeError& e) {
        VelnoteLogger::summarize().error(
            "failed to decode JSON summary, falling back to raw markdown. error: {}", e.what());
        return rawMarkdown(trimmed);
    }
}

std::string buildMarkdown(const StructuredSummaryResponse& response) {
    std::vector<std::string> lines;
    if (const std::string title = platform::trimWhitespace(response.title); !title.empty()) {
        lines.push_back("# " + title);
        lines.push_back("");
    }
    for (const StructuredSummaryResponse::Section& section : response.sections) {
        if (const std::string heading = platform::trimWhitespace(section.heading); !heading.empty())
            lines.push_back("## " + heading);
        if (std::string content = platform::trimWhitespace(section.content); !content.empty())
            lines.push_back(std::move(content));
        lines.push_back("");
    }
    return platform::trimWhitespace(platform::joined(lines, "\n")) + "\n";
}

} // namespace velnote::SummaryParser
