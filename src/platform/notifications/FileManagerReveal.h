#pragma once

#include <filesystem>
#include <vector>

namespace velnote::platform {

// Shows files in the desktop's file manager (what a notification's "Show in Folder" action does).
class FileManagerReveal {
  public:
    FileManagerReveal() = delete;

    // Asks the file manager (org.freedesktop.FileManager1.ShowItems on the session bus) to show
    // `items` selected in their folders. When no file manager answers, opens the first item's
    // folder with xdg-open instead (a folder given alone is opened itself). Returns false when
    // neither could be asked; never throws.
    static bool revealItems(const std::vector<std::filesystem::path>& items);

    // Opens `item` with the desktop's default application for it (xdg-open). Returns false when
    // xdg-open cannot be started; never throws.
    static bool openWithDefaultApplication(const std::filesystem::path& item);

    // "file://" URI of an absolute path, with every byte outside the unreserved set and "/"
    // percent-encoded.
    static std::string fileUri(const std::filesystem::path& path);
};

} // namespace velnote::platform
