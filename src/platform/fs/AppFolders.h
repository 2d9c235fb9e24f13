#pragma once

#include <filesystem>
#include <optional>

namespace velnote::platform {

// The application's folders, named for the macOS locations the code was
// designed around. None of these creates the folder; `std::nullopt` means the
// location cannot be determined (no XDG variable and no home folder), and the
// caller takes its own fallback.
//
// Application Support: $XDG_DATA_HOME/Velnote, else ~/.local/share/Velnote.
std::optional<std::filesystem::path> applicationSupportDirectory();
// Caches: $XDG_CACHE_HOME/Velnote, else ~/.cache/Velnote.
std::optional<std::filesystem::path> cachesDirectory();
// Configuration: $XDG_CONFIG_HOME/Velnote, else ~/.config/Velnote.
std::optional<std::filesystem::path> configDirectory();
// Temporary folder: $TMPDIR, else /tmp. Always answers.
std::filesystem::path temporaryDirectory();
// The user's home folder: $HOME, else the password database.
std::optional<std::filesystem::path> homeDirectory();

} // namespace velnote::platform
