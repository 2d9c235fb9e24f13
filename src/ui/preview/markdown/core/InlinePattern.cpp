#include "ui/preview/markdown/core/InlinePattern.h"

#include <string_view>

namespace velnote {
namespace {

// The first position of one character at or after a position. Queries come with positions that
// never decrease, so the last answer stays valid until the query passes it: every character is
// looked at once.
class NextOccurrence {
  public:
    NextOccurrence(std::string_view text, char wanted) : text_(text), wanted_(wanted) {}

    std::size_t from(std::size_t position) {
        if (!known_ || position < queriedFrom_ || (found_ != std::string_view::npos && found_ < position)) {
            found_ = text_.find(wanted_, position);
            queriedFrom_ = position;
            known_ = true;
        }
        return found_;
    }

  private:
    std::string_view text_;
    char wanted_;
    bool known_ = false;
    std::size_t queriedFrom_ = 0;
    std::size_t found_ = std::string_view::npos;
};

bool hasAt(std::string_view text, std::size_t position, std::string_view literal) {
    return position <= text.size() && text.substr(position).starts_with(literal);
}

} // namespace

std::vector<InlineMatch> findAllInline(const InlinePattern& pattern, std::string_view text,
                                       const std::function<bool(const InlineMatch&)>& accept) {
    std::vector<InlineMatch> matches;
    NextOccurrence stops(text, pattern.stop);
    NextOccurrence secondStops(text, pattern.secondStop);
    const std::string_view afterFirst = pattern.middle.empty() ? pattern.close : pattern.middle;

    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t candidate = text.find(pattern.open, position);
        if (candidate == std::string_view::npos)
            break;
        position = candidate + 1;
        const std::size_t firstBegin = candidate + pattern.open.size();
        const std::size_t firstEnd = stops.from(firstBegin);
        if (firstEnd == std::string_view::npos)
            break; // no stop character after here: no later candidate can match either
        if (firstEnd - firstBegin < pattern.minFirstLength || !hasAt(text, firstEnd, afterFirst))
            continue;
        InlineMatch match{.begin = candidate,
                          .end = firstEnd + afterFirst.size(),
                          .first = text.substr(firstBegin, firstEnd - firstBegin),
                          .second = {}};
        if (!pattern.middle.empty()) {
            const std::size_t secondBegin = match.end;
            if (!hasAt(text, secondBegin, pattern.secondPrefix))
                continue;
            const std::size_t contentBegin = secondBegin + pattern.secondPrefix.size();
            const std::size_t secondEnd = secondStops.from(contentBegin);
            if (secondEnd == std::string_view::npos)
                break;
            if (secondEnd == contentBegin || !hasAt(text, secondEnd, pattern.close))
                continue;
            match.second = text.substr(secondBegin, secondEnd - secondBegin);
            match.end = secondEnd + pattern.close.size();
        }
        if (accept && !accept(match))
            continue;
        matches.push_back(match);
        position = match.end;
    }
    return matches;
}

} // namespace velnote
