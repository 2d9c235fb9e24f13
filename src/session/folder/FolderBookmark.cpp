#include "session/folder/FolderBookmark.h"

#include "platform/json/Json.h"

#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <system_error>

namespace velnote {
namespace fs = std::filesystem;
using platform::Json;

namespace {

struct Identity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

Identity identityOf(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        throw std::system_error(errno, std::generic_category(), "examine " + path.string());
    }
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

} // namespace

platform::SettingsData FolderBookmark::create(const fs::path& folder) {
    const fs::path absolute = fs::absolute(folder).lexically_normal();
    const Identity id = identityOf(absolute);
    const std::string text = platform::toCompactJson(
        Json{{"path", absolute.string()}, {"device", id.device}, {"inode", id.inode}});
    return platform::SettingsData(text.begin(), text.end());
}

FolderBookmark::Resolution FolderBookmark::resolve(const platform::SettingsData& data) {
    fs::path path;
    Identity recorded;
    try {
        const Json j = platform::parseJson(std::string(data.begin(), data.end()));
        path = platform::required<std::string>(j, "path");
        // The system calls would read the path only up to the NUL: another folder.
        if (path.native().find('\0') != std::string::npos)
            throw platform::JsonDecodeError("path", "NUL byte in the path");
        recorded.device = platform::required<std::uint64_t>(j, "device");
        recorded.inode = platform::required<std::uint64_t>(j, "inode");
    } catch (const platform::JsonDecodeError& e) {
        throw std::invalid_argument(std::string("not folder bookmark data: ") + e.what());
    }
    const Identity now = identityOf(path);
    return {path, now.device != recorded.device || now.inode != recorded.inode};
}

} // namespace velnote
