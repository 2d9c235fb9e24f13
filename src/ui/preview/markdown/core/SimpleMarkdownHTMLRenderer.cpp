#include "ui/preview/markdown/core/SimpleMarkdownHTMLRenderer.h"

#include "platform/text/CaseMapping.h"
#include "platform/text/Characters.h"
#include "platform/text/Regex.h"
#include "platform/text/Split.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"
#include "ui/preview/markdown/core/InlinePattern.h"

#include <algorithm>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace velnote {
namespace {

using platform::trimSpacesAndTabs;

// Markup that carries attribute values (an image, the opening tag of a link) stands in the text
// as "\0<index>\0" until every inline step has run. The renderer's input holds no NUL, so a
// token cannot be forged, and no inline pattern can start or end inside one.
constexpr char kTokenMark = '\0';

class InlineTokens {
  public:
    std::string add(std::string markup) {
        markups_.push_back(std::move(markup));
        return std::string(1, kTokenMark) + std::to_string(markups_.size() - 1) + kTokenMark;
    }

    std::string expand(std::string_view text) const {
        std::string out;
        out.reserve(text.size());
        std::size_t position = 0;
        while (position < text.size()) {
            const std::size_t mark = text.find(kTokenMark, position);
            if (mark == std::string_view::npos) {
                out.append(text.substr(position));
                break;
            }
            out.append(text.substr(position, mark - position));
            const std::size_t end = text.find(kTokenMark, mark + 1);
            out.append(markups_.at(std::stoul(std::string(text.substr(mark + 1, end - mark - 1)))));
            position = end + 1;
        }
        return out;
    }

  private:
    std::vector<std::string> markups_;
};

bool containsToken(std::string_view text) {
    return text.find(kTokenMark) != std::string_view::npos;
}

// Browsers drop ASCII white space and control characters inside a URL's scheme before they
// look at it ("java\tscript:" runs script), so the test does the same.
bool runsScript(std::string_view escapedTarget) {
    std::string scheme;
    for (char c : escapedTarget) {
        if (static_cast<unsigned char>(c) <= 0x20)
            continue;
        if (c == ':')
            break;
        scheme.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
    }
    return scheme == "javascript" || scheme == "vbscript";
}

std::string imageHTML(std::string_view escapedSource, std::string_view escapedAlt) {
    return "<img src=\"" + std::string(escapedSource) + "\" alt=\"" + std::string(escapedAlt) +
           "\" style=\"max-width:100%;\">";
}

// Replaces every match (found before any replacement) from the last to the first.
std::string replaceMatches(std::string_view text, const std::vector<InlineMatch>& matches,
                           const std::function<std::string(const InlineMatch&)>& replacement) {
    std::string out(text);
    for (auto it = matches.rbegin(); it != matches.rend(); ++it)
        out.replace(it->begin, it->end - it->begin, replacement(*it));
    return out;
}

std::string replaceInline(std::string_view text, const InlinePattern& pattern,
                          const std::function<std::string(const InlineMatch&)>& replacement,
                          const std::function<bool(const InlineMatch&)>& accept = {}) {
    return replaceMatches(text, findAllInline(pattern, text, accept), replacement);
}

constexpr InlinePattern kDataImage{.open = "![",
                                   .stop = ']',
                                   .minFirstLength = 0,
                                   .middle = "](",
                                   .secondPrefix = "data:",
                                   .secondStop = ')',
                                   .close = ")"};
constexpr InlinePattern kImage{.open = "![",
                               .stop = ']',
                               .minFirstLength = 0,
                               .middle = "](",
                               .secondPrefix = "",
                               .secondStop = ')',
                               .close = ")"};
constexpr InlinePattern kLink{.open = "[",
                              .stop = ']',
                              .minFirstLength = 1,
                              .middle = "](",
                              .secondPrefix = "",
                              .secondStop = ')',
                              .close = ")"};
constexpr InlinePattern kCodeSpan{.open = "`", .stop = '`', .minFirstLength = 1, .close = "`"};
constexpr InlinePattern kBold{.open = "**", .stop = '*', .minFirstLength = 1, .close = "**"};
constexpr InlinePattern kItalic{.open = "*", .stop = '*', .minFirstLength = 1, .close = "*"};

bool noTokens(const InlineMatch& m) {
    return !containsToken(m.first) && !containsToken(m.second);
}

std::string wrap(std::string_view tag, std::string_view content) {
    return "<" + std::string(tag) + ">" + std::string(content) + "</" + std::string(tag) + ">";
}

// NUL and invalid UTF-8 would reach the page as parse errors; both become U+FFFD.
std::string sanitized(std::string_view markdown) {
    std::string text = platform::replacingInvalidUtf8(markdown);
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\0')
            out.append("\xEF\xBF\xBD");
        else
            out.push_back(c);
    }
    return out;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.starts_with(prefix);
}

bool isTableLine(std::string_view t) {
    return !t.empty() && t.front() == '|' && t.back() == '|';
}

bool isRule(std::string_view t) {
    std::string compact;
    for (char c : t)
        if (c != ' ')
            compact.push_back(c);
    return compact == "---" || compact == "***";
}

bool isSeparatorRow(const std::vector<std::string>& cells) {
    if (cells.empty())
        return false;
    return std::all_of(cells.begin(), cells.end(), [](const std::string& cell) {
        std::string dashes;
        for (char c : cell)
            if (c != ':')
                dashes.push_back(c);
        return !dashes.empty() && dashes.find_first_not_of('-') == std::string::npos;
    });
}

// The working values of one render() call.
class BlockRenderer {
  public:
    std::string run(std::string_view markdown) {
        std::string text = sanitized(markdown);
        std::string joined;
        joined.reserve(text.size());
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                continue;
            joined.push_back(text[i]);
        }
        for (const std::string& line : platform::splitOn(joined, "\n"))
            handle(line);
        if (inCodeBlock_)
            flushCodeBlock();
        closePending();
        std::string out;
        for (std::size_t i = 0; i < blocks_.size(); ++i) {
            if (i > 0)
                out.push_back('\n');
            out.append(blocks_[i]);
        }
        return out;
    }

  private:
    void handle(const std::string& line) {
        const std::string t = trimSpacesAndTabs(line);
        const bool fence = startsWith(t, "```");
        if (inCodeBlock_) {
            if (fence) {
                flushCodeBlock();
                inCodeBlock_ = false;
            } else {
                codeLines_.push_back(line);
            }
            return;
        }
        if (fence) {
            closePending();
            codeLanguage_ = platform::lowercased(trimSpacesAndTabs(std::string_view(t).substr(3)));
            inCodeBlock_ = true;
        } else if (t.empty()) {
            closePending();
        } else if (isTableLine(t)) {
            flushParagraph();
            flushList();
            tableRows_.push_back(t);
        } else if (auto heading = SimpleMarkdownHTMLRenderer::parseHeading(t)) {
            closePending();
            const std::string level = std::to_string(heading->first);
            emit("<h" + level + ">" + SimpleMarkdownHTMLRenderer::renderInline(heading->second) + "</h" +
                 level + ">");
        } else if (isRule(t)) {
            closePending();
            emit("<hr>");
        } else if (startsWith(t, ">")) {
            closePending();
            emit("<blockquote><p>" +
                 SimpleMarkdownHTMLRenderer::renderInline(trimSpacesAndTabs(std::string_view(t).substr(1))) +
                 "</p></blockquote>");
        } else if (startsWith(t, "- ") || startsWith(t, "* ")) {
            addListItem("ul", trimSpacesAndTabs(std::string_view(t).substr(2)));
        } else if (auto item = SimpleMarkdownHTMLRenderer::parseOrderedListItem(t)) {
            addListItem("ol", *item);
        } else {
            flushTable();
            flushList();
            paragraphLines_.push_back(t);
        }
    }

    void addListItem(std::string_view kind, std::string item) {
        flushTable();
        flushParagraph();
        if (listKind_ != kind) {
            flushList();
            listKind_ = kind;
        }
        listItems_.push_back(std::move(item));
    }

    void emit(std::string block) { blocks_.push_back(std::move(block)); }

    // Table first: rows that form no table become paragraph lines, emitted right after.
    void closePending() {
        flushTable();
        flushParagraph();
        flushList();
    }

    void flushParagraph() {
        if (paragraphLines_.empty())
            return;
        std::string joined;
        for (std::size_t i = 0; i < paragraphLines_.size(); ++i) {
            if (i > 0)
                joined.push_back(' ');
            joined.append(paragraphLines_[i]);
        }
        emit("<p>" + SimpleMarkdownHTMLRenderer::renderInline(joined) + "</p>");
        paragraphLines_.clear();
    }

    void flushList() {
        if (!listKind_.empty() && !listItems_.empty()) {
            std::string html = "<" + listKind_ + ">";
            for (const std::string& item : listItems_)
                html += "<li>" + SimpleMarkdownHTMLRenderer::renderInline(item) + "</li>";
            emit(html + "</" + listKind_ + ">");
        }
        listItems_.clear();
        listKind_.clear();
    }

    void flushTable() {
        if (tableRows_.empty())
            return;
        std::vector<std::vector<std::string>> rows;
        for (const std::string& row : tableRows_)
            rows.push_back(SimpleMarkdownHTMLRenderer::parseTableRow(row));
        if (rows.size() < 2 || !isSeparatorRow(rows[1])) {
            paragraphLines_.insert(paragraphLines_.end(), tableRows_.begin(), tableRows_.end());
            tableRows_.clear();
            return;
        }
        std::string html = "<table><thead><tr>";
        for (const std::string& cell : rows[0])
            html += "<th>" + SimpleMarkdownHTMLRenderer::renderInline(cell) + "</th>";
        html += "</tr></thead><tbody>";
        for (std::size_t r = 2; r < rows.size(); ++r) {
            html += "<tr>";
            for (const std::string& cell : rows[r])
                html += "<td>" + SimpleMarkdownHTMLRenderer::renderInline(cell) + "</td>";
            html += "</tr>";
        }
        emit(html + "</tbody></table>");
        tableRows_.clear();
    }

    void flushCodeBlock() {
        if (!codeLines_.empty()) {
            std::string code;
            for (std::size_t i = 0; i < codeLines_.size(); ++i) {
                if (i > 0)
                    code.push_back('\n');
                code.append(codeLines_[i]);
            }
            const std::string escaped = SimpleMarkdownHTMLRenderer::escapeHTML(code);
            if (codeLanguage_ == "mermaid")
                emit("<div class=\"mermaid\">" + escaped + "</div>");
            else
                emit("<pre><code>" + escaped + "</code></pre>");
        }
        codeLines_.clear();
        codeLanguage_.clear();
    }

    std::vector<std::string> blocks_;
    std::vector<std::string> paragraphLines_;
    std::vector<std::string> listItems_;
    std::string listKind_; // "", "ul" or "ol"
    std::vector<std::string> tableRows_;
    std::vector<std::string> codeLines_;
    std::string codeLanguage_;
    bool inCodeBlock_ = false;
};

} // namespace

std::string SimpleMarkdownHTMLRenderer::render(std::string_view markdown) {
    return BlockRenderer().run(markdown);
}

std::string SimpleMarkdownHTMLRenderer::renderInline(std::string_view input) {
    const std::string text = sanitized(input);
    InlineTokens tokens;

    // Screenshots embedded as data URIs go aside before escaping; the generic image step below
    // would give them the same element.
    std::string html = escapeHTML(text);
    html = replaceInline(html, kDataImage,
                         [&](const InlineMatch& m) { return tokens.add(imageHTML(m.second, m.first)); });
    html = replaceInline(
        html, kImage, [&](const InlineMatch& m) { return tokens.add(imageHTML(m.second, m.first)); },
        noTokens);
    html = replaceInline(
        html, kLink,
        [&](const InlineMatch& m) {
            return tokens.add("<a href=\"" + std::string(m.second) + "\">") + std::string(m.first) + "</a>";
        },
        [](const InlineMatch& m) { return !containsToken(m.second) && !runsScript(m.second); });
    html = replaceInline(html, kCodeSpan, [](const InlineMatch& m) { return wrap("code", m.first); });
    html = replaceInline(html, kBold, [](const InlineMatch& m) { return wrap("strong", m.first); });
    html = replaceInline(html, kItalic, [](const InlineMatch& m) { return wrap("em", m.first); });
    return tokens.expand(html);
}

std::string SimpleMarkdownHTMLRenderer::escapeHTML(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out.append("&amp;");
            break;
        case '<':
            out.append("&lt;");
            break;
        case '>':
            out.append("&gt;");
            break;
        case '"':
            out.append("&quot;");
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

std::optional<std::pair<int, std::string>> SimpleMarkdownHTMLRenderer::parseHeading(std::string_view line) {
    const std::size_t hashes = std::min(line.find_first_not_of('#'), line.size());
    if (hashes == 0 || hashes > 6)
        return std::nullopt;
    const std::string_view rest = line.substr(hashes);
    if (rest.empty() || rest.front() != ' ')
        return std::nullopt;
    return std::pair{static_cast<int>(hashes), trimSpacesAndTabs(rest.substr(1))};
}

std::optional<std::string> SimpleMarkdownHTMLRenderer::parseOrderedListItem(std::string_view line) {
    std::size_t digitsEnd = 0;
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(line.size(), INT32_MAX));
    std::int32_t offset = 0;
    while (offset < length) {
        std::int32_t next = offset;
        UChar32 c = 0;
        U8_NEXT(line.data(), next, length, c);
        if (c < 0 || u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) == U_NT_NONE)
            break;
        offset = next;
        digitsEnd = static_cast<std::size_t>(next);
    }
    if (digitsEnd == 0 || !line.substr(digitsEnd).starts_with(". "))
        return std::nullopt;
    return trimSpacesAndTabs(line.substr(digitsEnd + 2));
}

std::vector<std::string> SimpleMarkdownHTMLRenderer::parseTableRow(std::string_view row) {
    const std::string_view inner = row.size() < 2 ? std::string_view{} : row.substr(1, row.size() - 2);
    std::vector<std::string> cells = platform::splitOn(inner, "|");
    for (std::string& cell : cells)
        cell = trimSpacesAndTabs(cell);
    return cells;
}

std::string SimpleMarkdownHTMLRenderer::replacePattern(std::string_view pattern, std::string_view text,
                                                       const Transform& transform) {
    std::optional<platform::Regex> regex;
    try {
        regex.emplace(pattern);
    } catch (const platform::RegexError& e) {
        VelnoteLogger::app().error("replacePattern: invalid regex pattern '{}': {}", pattern, e.what());
        return std::string(text);
    }
    std::vector<platform::RegexMatch> matches;
    try {
        matches = regex->findAll(text);
    } catch (const platform::RegexError& e) {
        VelnoteLogger::app().error("replacePattern: matching failed for '{}': {}", pattern, e.what());
        return std::string(text);
    }
    std::string out(text);
    for (auto it = matches.rbegin(); it != matches.rend(); ++it) {
        std::vector<std::string> groups;
        for (const auto& group : it->groups)
            groups.push_back(group ? group->text : std::string());
        out.replace(it->whole().begin, it->whole().end - it->whole().begin, transform(groups));
    }
    return out;
}

} // namespace velnote
