#include "context/activity/ActivityJson.h"

namespace velnote {

std::string encodeActivityJson(const platform::Json& value) {
    const std::string compact = platform::toCompactJson(value);
    // Outside strings compact JSON has no "/", so every one is inside a string.
    std::string escaped;
    escaped.reserve(compact.size());
    for (const char c : compact) {
        if (c == '/') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

} // namespace velnote
