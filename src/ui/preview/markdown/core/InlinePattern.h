#pragma once

#include <cstddef>
#include <functional>
#include <string_view>
#include <vector>

namespace velnote {

// One inline construct of the Markdown renderer: `open`, a first group of characters other than
// `stop`, and then either `close`, or `middle`, a second group (`secondPrefix` and at least one
// character other than `secondStop`) and `close`. `middle` (or `close` without a second group)
// starts with `stop`, and `close` of a two-group pattern with `secondStop`.
//
// This is the language of the renderer's regular expressions: "\[([^\]]+)\]\(([^\)]+)\)" is
// {"[", ']', 1, "](", "", ')', ")"}. Because each group ends at the first stop character after
// it, a match starting at a given position is unique, and findAll() finds the same leftmost,
// non-overlapping matches as the regular expression in one pass instead of rescanning the rest
// of the text from every opening bracket.
struct InlinePattern {
    std::string_view open{};
    char stop = 0;
    std::size_t minFirstLength = 0;  // 0 for "*", 1 for "+"
    std::string_view middle{};       // empty: one group only
    std::string_view secondPrefix{}; // literal start of the second group, e.g. "data:"
    char secondStop = 0;
    std::string_view close{};
};

struct InlineMatch {
    std::size_t begin = 0; // the whole match [begin, end)
    std::size_t end = 0;
    std::string_view first;  // group 1
    std::string_view second; // group 2; empty for a one-group pattern
};

// Every match, left to right. `accept` may refuse a candidate; the search then goes on one
// character further, as if the pattern had not matched there.
std::vector<InlineMatch> findAllInline(const InlinePattern& pattern, std::string_view text,
                                       const std::function<bool(const InlineMatch&)>& accept = {});

} // namespace velnote
