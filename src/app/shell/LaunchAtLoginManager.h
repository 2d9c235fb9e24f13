#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace velnote {

// Starts the application when the user logs in: an XDG autostart entry,
// "$XDG_CONFIG_HOME/autostart/io.hushtape.velnote.desktop" (~/.config when the variable is unset
// or not absolute), that runs this executable. The wanted state is the setting "launchAtLogin";
// this class keeps none.
class LaunchAtLoginManager {
  public:
    LaunchAtLoginManager() = delete;

    // Writes the entry (enabled) or removes it (disabled), every time, without looking at what is
    // there. A refusal of the file system is logged (category "app"); nothing is retried and the
    // user is not told.
    static void apply(bool enabled);

    // What apply() uses; tests point them elsewhere. The entry: none without a home folder.
    static std::optional<std::filesystem::path> autostartEntryPath();
    // The program the entry runs: this process's executable (/proc/self/exe).
    static std::filesystem::path executablePath();

    // The text of the entry that runs `executable`. Throws std::invalid_argument for a path the
    // Exec key cannot hold (a line break or another control character).
    static std::string desktopEntry(const std::filesystem::path& executable);
};

} // namespace velnote
