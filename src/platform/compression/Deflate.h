#pragma once

#include <cstddef>
#include <span>
#include <stdexcept>
#include <vector>

namespace velnote::platform {

// zlib refused the input or ran out of memory.
class CompressionError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// `bytes` as a raw DEFLATE stream (RFC 1951: no header, no checksum), at zlib's level 5, the
// strength of the platform compressor this stands in for. Throws CompressionError.
std::vector<std::byte> rawDeflate(std::span<const std::byte> bytes);

} // namespace velnote::platform
