#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velnote::platform {

// White space here is Unicode's White_Space property: space, tab, LF, VT, FF,
// CR, U+0085, no-break space, U+3000 ideographic space, U+2028/U+2029 and the
// other space separators. Zero-width space (U+200B) and the byte order mark are
// not white space. Bytes that are not valid UTF-8 are never trimmed.

// `text` without white space and newlines at both ends.
std::string trimWhitespace(std::string_view text);

// `text` without spaces and tabs at both ends: the space separators (general
// category Zs, U+3000 included) and tab. Line breaks stay.
std::string trimSpacesAndTabs(std::string_view text);

// The number of bytes of white space and newlines at the start of `text`.
std::size_t leadingWhitespaceLength(std::string_view text);

// True when `text` is empty or holds only white space and newlines.
bool isBlank(std::string_view text);

// The pieces of `text` between runs of white space and newlines, empty pieces left out:
// "a  b\tc" gives {"a", "b", "c"}; a blank text gives none. Quotes and backslashes are
// ordinary characters.
std::vector<std::string> splitOnWhitespace(std::string_view text);

} // namespace velnote::platform
