#pragma once

#include <string>
#include <string_view>

namespace velnote::platform {

// Full Unicode case mappings of the root locale, so the result never depends on
// the user's locale (no Turkish dotless i): "ß" uppercases to "SS". The text
// may grow or shrink.
std::string lowercased(std::string_view text);
std::string uppercased(std::string_view text);

// Full case folding ("ß" and "SS" both fold to "ss"), the form for comparing
// without regard to case. Not meant for display.
std::string caseFolded(std::string_view text);

// Case-insensitive equality that also treats canonically equivalent texts as
// equal (a precomposed "が" equals "か" + U+3099). Full-width and half-width
// letters stay different.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// Whether `needle` occurs in `text` under the comparison of equalsIgnoringCase.
// An empty needle is never contained, as with the platform's string search.
bool containsIgnoringCase(std::string_view text, std::string_view needle);

} // namespace velnote::platform
