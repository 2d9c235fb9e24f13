#pragma once

#include "platform/settings/SettingsValue.h"

#include <filesystem>

namespace velnote {

// A folder the user chose, remembered across launches as settings data: its
// path plus the device and inode it had when remembered. There is no sandbox
// grant to keep on Linux, so this records only enough to notice that the path
// now names a different folder.
class FolderBookmark {
  public:
    struct Resolution {
        std::filesystem::path folder;
        // The path now names another file system object (the folder was
        // replaced or recreated); make fresh data for it.
        bool isStale = false;
    };

    FolderBookmark() = delete;

    // Throws std::system_error when `folder` cannot be examined.
    static platform::SettingsData create(const std::filesystem::path& folder);

    // Throws std::invalid_argument when `data` is not bookmark data (also a
    // path with a NUL byte, or JSON bad in any way parseJson refuses) and
    // std::system_error when nothing can be examined at its path any more.
    static Resolution resolve(const platform::SettingsData& data);
};

} // namespace velnote
