#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velnote::platform {

// `text` with every occurrence of each marker removed. Removing one marker can join the
// pieces of another ("<|im_<|im_end|>start|>"), so removal repeats until none is left.
// Empty markers are ignored.
std::string withoutMarkers(std::string_view text, const std::vector<std::string>& markers);

} // namespace velnote::platform
