#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velnote {

// Turns the small Markdown subset of the summaries into an HTML fragment for the preview page:
// fenced code (a "mermaid" fence becomes a diagram div), headings 1-6, rules, quote lines, one-level
// bullet and numbered lists, pipe tables, paragraphs, and inline images, links, code spans, bold and
// italic. Works line by line on lines trimmed of spaces and tabs, so indentation never matters
// outside code blocks.
//
// Every character of the input is HTML-escaped; the only markup in the result is the renderer's
// own. Link targets and image sources and alternative texts are written into their attributes as
// they are (escaped) and are not rewritten by the later inline steps, so no inline rule can move a
// quotation mark of generated markup into an attribute. A link whose target would run script
// ("javascript:", "vbscript:") stays literal text. Invalid UTF-8 and NUL bytes become U+FFFD.
//
// Stateless: every function may run on any thread, and the result depends only on the input. Each
// step runs in time linear in its input, also for pathological bracket or asterisk runs.
struct SimpleMarkdownHTMLRenderer {
    using Transform = std::function<std::string(const std::vector<std::string>& groups)>;

    // The whole text; blocks joined by one line feed. Never fails.
    static std::string render(std::string_view markdown);

    // The inline HTML of one block's text.
    static std::string renderInline(std::string_view text);

    // "&", "<", ">" and the double quotation mark as entities, in that order; nothing else.
    static std::string escapeHTML(std::string_view text);

    // A trimmed line of one to six "#" and a space: (level, text trimmed); closing "#" stay.
    static std::optional<std::pair<int, std::string>> parseHeading(std::string_view line);

    // A trimmed line of Unicode numeric characters, then ". ": the item text, trimmed.
    static std::optional<std::string> parseOrderedListItem(std::string_view line);

    // A table row without its first and last character, split at every "|" (empty pieces kept),
    // each piece trimmed. An empty remainder is one empty cell.
    static std::vector<std::string> parseTableRow(std::string_view row);

    // `text` with every non-overlapping match of the regular expression `pattern` (found left to
    // right, replaced last to first) replaced by `transform` of its groups (group 0 first, an empty
    // text for a group that took no part). A pattern that does not compile is logged and `text`
    // comes back unchanged.
    static std::string replacePattern(std::string_view pattern, std::string_view text,
                                      const Transform& transform);
};

} // namespace velnote
