#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unicode/uversion.h>
#include <vector>

U_NAMESPACE_BEGIN
class RegexPattern;
U_NAMESPACE_END

namespace velnote::platform {

// A pattern that does not compile, a replacement template that refers to a
// missing group, or a match that ran out of ICU's backtracking stack. The
// message carries ICU's error name.
class RegexError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct RegexOptions {
    bool caseInsensitive = false;          // full Unicode case folding; "ｈ" matches "Ｈ" but not "h"
    bool multiline = false;                // "^" and "$" also match at line starts and ends
    bool dotMatchesLineSeparators = false; // "." also matches line breaks
};

struct RegexCapture {
    std::size_t begin = 0; // byte offset in the UTF-8 input
    std::size_t end = 0;   // byte offset one past the capture
    std::string text;      // the input's bytes [begin, end)
};

struct RegexMatch {
    // [0] is the whole match, [i] capture group i. A group that took no part in
    // the match is std::nullopt; one that matched nothing is an empty capture.
    std::vector<std::optional<RegexCapture>> groups;

    const RegexCapture& whole() const { return *groups.front(); }
};

// An ICU regular expression (the syntax of the platform's regular expressions)
// matching on code points of UTF-8 text. Compiled once; every operation is
// const and may run on several threads at a time.
class Regex {
  public:
    // Throws RegexError when `pattern` does not compile.
    explicit Regex(std::string_view pattern, RegexOptions options = {});

    // Whether the whole of `input` matches.
    bool matches(std::string_view input) const;

    // The first match in `input`, std::nullopt when there is none.
    std::optional<RegexMatch> search(std::string_view input) const;

    // Every non-overlapping match in `input`, in order.
    std::vector<RegexMatch> findAll(std::string_view input) const;

    // `input` with every match replaced by `replacementTemplate`, where "$0" is
    // the whole match, "$1" … group 1 …, "${name}" a named group, and "\$" and
    // "\\" stand for "$" and "\"; "$12" is group 12 when the pattern has that
    // many groups and group 1 then "2" otherwise. Invalid UTF-8 in `input`
    // comes out as U+FFFD. Throws RegexError for a group the pattern lacks
    // ("$3" with two groups) and for "$" before anything but a digit or "{".
    std::string replaceAll(std::string_view input, std::string_view replacementTemplate) const;

    // `literal` with every character that has a meaning in a pattern escaped,
    // so the result matches exactly `literal`.
    static std::string escapedPattern(std::string_view literal);

  private:
    std::shared_ptr<const icu::RegexPattern> pattern_;
};

} // namespace velnote::platform
