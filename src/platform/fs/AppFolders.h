#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>

namespace velnote::platform {

// The application's folders, named for the macOS locations the code was
// designed around. None of these creates the folder; `std::nullopt` means the
// location cannot be determined (no XDG variable and no home folder).
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

// Neither the XDG variable nor a home folder names a place for the application's own data.
class NoHomeFolderError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The folders above for callers that cannot go on without them: throw NoHomeFolderError, naming
// the variables to set, instead of answering std::nullopt. The shared temporary folder is no
// stand-in: other users could read what is put there, or plant files and links ahead of us.
std::filesystem::path requiredApplicationSupportDirectory();
std::filesystem::path requiredCachesDirectory();
std::filesystem::path requiredConfigDirectory();

} // namespace velnote::platform
