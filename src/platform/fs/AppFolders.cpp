#include "platform/fs/AppFolders.h"

#include <cstdlib>
#include <pwd.h>
#include <string>
#include <unistd.h>

namespace velnote::platform {
namespace fs = std::filesystem;
namespace {

constexpr const char* kAppFolderName = "Velnote";

// The XDG rules: an unset, empty or relative value is ignored.
std::optional<fs::path> absoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0')
        return std::nullopt;
    fs::path path(value);
    if (!path.is_absolute())
        return std::nullopt;
    return path;
}

std::optional<fs::path> xdgFolder(const char* variable, const char* homeRelative) {
    if (auto base = absoluteEnv(variable))
        return *base / kAppFolderName;
    if (auto home = homeDirectory())
        return *home / homeRelative / kAppFolderName;
    return std::nullopt;
}

fs::path required(std::optional<fs::path> folder, const char* variable) {
    if (!folder) {
        throw NoHomeFolderError(
            std::string("No home folder to keep the application's data in: set HOME or ") + variable);
    }
    return std::move(*folder);
}

} // namespace

std::optional<fs::path> homeDirectory() {
    if (auto home = absoluteEnv("HOME"))
        return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir && *entry->pw_dir) {
        return fs::path(entry->pw_dir);
    }
    return std::nullopt;
}

std::optional<fs::path> applicationSupportDirectory() {
    return xdgFolder("XDG_DATA_HOME", ".local/share");
}

std::optional<fs::path> cachesDirectory() {
    return xdgFolder("XDG_CACHE_HOME", ".cache");
}

std::optional<fs::path> configDirectory() {
    return xdgFolder("XDG_CONFIG_HOME", ".config");
}

fs::path requiredApplicationSupportDirectory() {
    return required(applicationSupportDirectory(), "XDG_DATA_HOME");
}

fs::path requiredCachesDirectory() {
    return required(cachesDirectory(), "XDG_CACHE_HOME");
}

fs::path requiredConfigDirectory() {
    return required(configDirectory(), "XDG_CONFIG_HOME");
}

fs::path temporaryDirectory() {
    if (auto tmp = absoluteEnv("TMPDIR"))
        return *tmp;
    return fs::path("/tmp");
}

} // namespace velnote::platform
