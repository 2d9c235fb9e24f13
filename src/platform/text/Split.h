#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velnote::platform {

// The pieces of `text` between occurrences of `separator`, empty pieces kept:
// "a\n\nb" split at "\n" gives {"a", "", "b"} and "" gives {""}. An empty
// separator gives {text}.
std::vector<std::string> splitOn(std::string_view text, std::string_view separator);
// The same pieces one at a time, for a text too large to hold twice.
void forEachPiece(std::string_view text, std::string_view separator,
                  const std::function<void(std::string_view)>& piece);

// `pieces` with `separator` between each two.
std::string joined(const std::vector<std::string>& pieces, std::string_view separator);

} // namespace velnote::platform
