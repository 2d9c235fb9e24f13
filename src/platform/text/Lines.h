#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velnote::platform {

// The lines of `text`, without their line breaks. A line ends at "\n", "\r\n"
// or a lone "\r". A break at the very end starts no further line, so "a\n"
// gives {"a"}, "a\n\n" gives {"a", ""} and "" gives no lines at all.
std::vector<std::string> splitLines(std::string_view text);

} // namespace velnote::platform
