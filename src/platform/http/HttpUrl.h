#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velnote::platform {

// An absolute http or https URL as the HTTP client accepts it.
struct HttpUrl {
    std::string text;   // the URL as libcurl normalised it; what a request is sent to
    std::string scheme; // "http" or "https"
    std::string host;   // never empty
};

// The URL `text` stands for, or std::nullopt when it is not one: no scheme or another scheme
// than http and https, no host, a port that is not a number, blanks, control characters or a NUL
// byte anywhere. Nothing is trimmed or escaped.
std::optional<HttpUrl> parseHttpUrl(std::string_view text);

} // namespace velnote::platform
