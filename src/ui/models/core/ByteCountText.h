#pragma once

#include <cstdint>
#include <string>

namespace velnote {

// A size on disk in megabytes below one gigabyte, else in gigabytes, counted in thousands as file
// sizes are: "0 MB", "1.5 MB", "345.6 MB", "1.23 GB". One decimal for megabytes, two for
// gigabytes, trailing zeros dropped; a size that is not zero never reads as "0 MB".
std::string formatByteCount(std::int64_t bytes);

} // namespace velnote
