#pragma once

#include <filesystem>
#include <string>

namespace velnote::platform {

// "file://" URL of a path (made absolute against the current folder first),
// with every byte outside the unreserved set and "/" percent-encoded:
// "/tmp/a b.jpg" gives "file:///tmp/a%20b.jpg".
std::string fileUrl(const std::filesystem::path& path);

} // namespace velnote::platform
