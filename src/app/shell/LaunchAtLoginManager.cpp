#include "app/shell/LaunchAtLoginManager.h"

#include "platform/fs/AppFolders.h"
#include "platform/fs/Files.h"
#include "session/VelnoteLogger.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace velnote {
namespace fs = std::filesystem;

namespace {

// One argument of an Exec line: quoted, with the characters the desktop-entry format reserves
// inside quotes escaped, then the backslashes escaped once more because the value is a string.
std::string quotedExecArgument(const std::string& argument) {
    std::string quoted = "\"";
    for (const char c : argument) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            throw std::invalid_argument("control character in the executable path");
        }
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += "\\\\"; // an escaping backslash, itself escaped for the string value
            if (c == '\\') {
                quoted += "\\\\";
                continue;
            }
        }
        if (c == '%') {
            quoted += '%'; // "%%" is a literal percent sign; a lone one would be a field code
        }
        quoted += c;
    }
    return quoted + "\"";
}

} // namespace

std::optional<fs::path> LaunchAtLoginManager::autostartEntryPath() {
    fs::path configHome;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && fs::path(xdg).is_absolute()) {
        configHome = xdg;
    } else if (const auto home = platform::homeDirectory()) {
        configHome = *home / ".config";
    } else {
        return std::nullopt;
    }
    return configHome / "autostart" / (std::string(kBundleIdentifier) + ".desktop");
}

fs::path LaunchAtLoginManager::executablePath() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path("velnote") : self;
}

std::string LaunchAtLoginManager::desktopEntry(const fs::path& executable) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Hushtape\n"
           "Exec=" +
           quotedExecArgument(executable.string()) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

void LaunchAtLoginManager::apply(bool enabled) {
    const auto entry = autostartEntryPath();
    try {
        if (!entry) {
            throw platform::NoHomeFolderError("no XDG_CONFIG_HOME and no home folder");
        }
        if (enabled) {
            const std::string text = desktopEntry(executablePath());
            platform::createDirectories(entry->parent_path());
            platform::writeFileAtomically(*entry, text);
        } else {
            std::error_code error;
            if (!fs::remove(*entry, error) && error) {
                throw fs::filesystem_error("remove", *entry, error);
            }
        }
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("LaunchAtLoginManager: failed to update login item enabled={}: {}",
                                   enabled, e.what());
    }
}

} // namespace velnote
