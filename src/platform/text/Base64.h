#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velnote::platform {

// Standard Base64 (RFC 4648 alphabet, "=" padding), one line without breaks.
std::string base64Encoded(std::string_view bytes);

// Strict: padded, no white space, no stray characters; std::nullopt otherwise.
std::optional<std::string> base64Decoded(std::string_view text);

} // namespace velnote::platform
