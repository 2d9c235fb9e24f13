#include "platform/text/Regex.h"

#include "platform/text/IcuSupport.h"
#include "platform/text/Utf16Text.h"

#include <unicode/regex.h>

namespace velnote::platform {

namespace {

uint32_t icuFlags(RegexOptions options) {
    uint32_t flags = 0;
    flags |= options.caseInsensitive ? UREGEX_CASE_INSENSITIVE : 0;
    flags |= options.multiline ? UREGEX_MULTILINE : 0;
    flags |= options.dotMatchesLineSeparators ? UREGEX_DOTALL : 0;
    return flags;
}

void throwIfRegexFailed(UErrorCode status, std::string_view what) {
    if (U_FAILURE(status)) {
        throw RegexError(std::string(what) + ": " + u_errorName(status));
    }
}

// ICU reports where the pattern went wrong as a line and a code point offset.
std::string compileErrorMessage(std::string_view pattern, UErrorCode status, const UParseError& where) {
    return "invalid regular expression \"" + std::string(pattern) + "\": " + u_errorName(status) +
           " at line " + std::to_string(where.line) + ", offset " + std::to_string(where.offset);
}

// The matcher reads `text` in place, so `text` must outlive it.
std::unique_ptr<icu::RegexMatcher> matcherFor(const icu::RegexPattern& pattern, const Utf16Text& text) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(pattern.matcher(text.units(), status));
    throwIfIcuFailed(status, "creating a regex matcher");
    return matcher;
}

// Advances to the next match; a failure (such as ICU's backtracking stack
// running out) throws rather than passing for "no match".
bool findNext(icu::RegexMatcher& matcher) {
    UErrorCode status = U_ZERO_ERROR;
    const bool found = matcher.find(status);
    throwIfRegexFailed(status, "regex search");
    return found;
}

std::optional<RegexCapture> capture(const icu::RegexMatcher& matcher, int32_t group, const Utf16Text& text,
                                    std::string_view input) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t start = matcher.start(group, status);
    const int32_t end = matcher.end(group, status);
    throwIfIcuFailed(status, "reading a regex group");
    if (start < 0) {
        return std::nullopt;
    }
    const std::size_t begin = text.byteOffset(start);
    const std::size_t stop = text.byteOffset(end);
    return RegexCapture{begin, stop, std::string(input.substr(begin, stop - begin))};
}

RegexMatch currentMatch(const icu::RegexMatcher& matcher, const Utf16Text& text, std::string_view input) {
    RegexMatch match;
    for (int32_t group = 0; group <= matcher.groupCount(); ++group) {
        match.groups.push_back(capture(matcher, group, text, input));
    }
    return match;
}

} // namespace

Regex::Regex(std::string_view pattern, RegexOptions options) {
    UParseError where{};
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexPattern> compiled(
        icu::RegexPattern::compile(toUtf16(pattern), icuFlags(options), where, status));
    if (U_FAILURE(status)) {
        throw RegexError(compileErrorMessage(pattern, status, where));
    }
    pattern_ = std::move(compiled);
}

bool Regex::matches(std::string_view input) const {
    const Utf16Text text(input);
    const auto matcher = matcherFor(*pattern_, text);
    UErrorCode status = U_ZERO_ERROR;
    const bool matched = matcher->matches(status);
    throwIfRegexFailed(status, "regex match");
    return matched;
}

std::optional<RegexMatch> Regex::search(std::string_view input) const {
    const Utf16Text text(input);
    const auto matcher = matcherFor(*pattern_, text);
    if (!findNext(*matcher)) {
        return std::nullopt;
    }
    return currentMatch(*matcher, text, input);
}

std::vector<RegexMatch> Regex::findAll(std::string_view input) const {
    const Utf16Text text(input);
    const auto matcher = matcherFor(*pattern_, text);
    std::vector<RegexMatch> found;
    while (findNext(*matcher)) {
        found.push_back(currentMatch(*matcher, text, input));
    }
    return found;
}

std::string Regex::replaceAll(std::string_view input, std::string_view replacementTemplate) const {
    const Utf16Text text(input);
    const auto matcher = matcherFor(*pattern_, text);
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString replaced = matcher->replaceAll(toUtf16(replacementTemplate), status);
    throwIfRegexFailed(status, "regex replacement \"" + std::string(replacementTemplate) + "\"");
    return toUtf8(replaced);
}

std::string Regex::escapedPattern(std::string_view literal) {
    constexpr std::string_view special = "\\^$.|?*+()[]{}";
    std::string escaped;
    escaped.reserve(literal.size());
    for (const char c : literal) {
        if (special.find(c) != std::string_view::npos) {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

} // namespace velnote::platform
