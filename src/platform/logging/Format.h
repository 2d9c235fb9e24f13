#pragma once

#include <sstream>
#include <string>
#include <string_view>

namespace velnote::platform {

namespace detail {
inline void formatInto(std::ostringstream& out, std::string_view fmt) {
    out << fmt;
}

template <typename First, typename... Rest>
void formatInto(std::ostringstream& out, std::string_view fmt, const First& first, const Rest&... rest) {
    const auto at = fmt.find("{}");
    if (at == std::string_view::npos) {
        out << fmt;
        return;
    }
    out << fmt.substr(0, at) << first;
    formatInto(out, fmt.substr(at + 2), rest...);
}
} // namespace detail

// Replaces each "{}" in order with the next argument (streamed with <<).
// Surplus placeholders stay as written; surplus arguments are dropped.
template <typename... Args> std::string format(std::string_view fmt, const Args&... args) {
    std::ostringstream out;
    detail::formatInto(out, fmt, args...);
    return out.str();
}

} // namespace velnote::platform
