#include "platform/fs/FileUrl.h"

#include <cstdio>

namespace velnote::platform {

namespace {

bool isUnreservedOrSlash(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
           c == '-' || c == '.' || c == '_' || c == '~';
}

} // namespace

std::string fileUrl(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        absolute = path;
    std::string url = "file://";
    for (unsigned char c : absolute.string()) {
        if (isUnreservedOrSlash(c)) {
            url.push_back(static_cast<char>(c));
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            url += escaped;
        }
    }
    return url;
}

} // namespace velnote::platform
