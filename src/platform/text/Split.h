#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velnote::platform {

// The pieces of `text` between occurrences of `separator`, empty pieces kept:
// "a\n\nb" split at "\n" gives {"a", "", "b"} and "" gives {""}. An empty
// separator gives {text}.
std::vector<std::string> splitOn(std::string_view text, std::string_view separator);

// `pieces` with `separator` between each two.
std::string joined(const std::vector<std::string>& pieces, std::string_view separator);

} // namespace velnote::platform
