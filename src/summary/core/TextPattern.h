#pragma once

#include "platform/text/Regex.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// A regular expression of the summary text rules, in ICU syntax. A pattern
// that does not compile is logged once (category "summarize") and then
// matches nothing; so does a match that runs out of the engine's stack. The
// rules keep one per pattern in a function-local static; every operation is
// const and thread-safe.
class TextPattern {
  public:
    explicit TextPattern(std::string_view pattern, platform::RegexOptions options = {});

    bool compiled() const { return regex_.has_value(); }
    bool foundIn(std::string_view text) const { return firstMatch(text).has_value(); }
    std::optional<platform::RegexMatch> firstMatch(std::string_view text) const;
    std::vector<platform::RegexMatch> allMatches(std::string_view text) const;
    // `text` with every match replaced by `replacement` taken literally; `text`
    // unchanged when nothing can match.
    std::string replacingMatches(std::string_view text, std::string_view replacement) const;

  private:
    std::string pattern_;
    std::optional<platform::Regex> regex_;
};

} // namespace velnote
