#pragma once

#include "platform/fs/FileDescriptor.h"
#include "platform/fs/Files.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace velnote::platform {

// A folder opened once and then listed and changed relative to its descriptor, never through its
// path again: a folder swapped for a symbolic link after it was opened cannot lead deletions
// out of it. Not thread-safe (listings share the descriptor's position).
class OpenFolder {
  public:
    // How deeply removeAll descends; deeper trees are left with ENAMETOOLONG.
    static constexpr std::size_t kMaxRemovalDepth = 64;

    // Takes a descriptor opened on a folder.
    explicit OpenFolder(FileDescriptor folder);

    // The folder at `path`, whose last component must not be a symbolic link (ELOOP) and must be a
    // folder (ENOTDIR). Sets `error` and gives std::nullopt when it cannot be opened.
    static std::optional<OpenFolder> open(const std::filesystem::path& path, std::error_code& error);
    // The sub-folder `name` of this one, on the same terms.
    std::optional<OpenFolder> openFolder(const std::string& name, std::error_code& error) const;

    // The names of the entries in the file system's order, without "." and ".."; hidden ones
    // start with ".". Sets `error` (and gives none) when the folder cannot be read to the end.
    std::vector<std::string> entryNames(HiddenEntries hidden, std::error_code& error) const;

    // Removes the entry `name`: a file or a link itself, a folder with everything in it, never
    // following a link. Stops at the first failure and sets `error`: ENOENT when `name` itself
    // is missing (entries inside that vanish meanwhile are no error).
    void removeAll(const std::string& name, std::error_code& error) const;
    // Removes the entry `name` unless it is a folder (EISDIR); ENOENT when it is missing.
    void removeFile(const std::string& name, std::error_code& error) const;
    // Removes the sub-folder `name` when it is empty (ENOTEMPTY otherwise).
    void removeEmptyFolder(const std::string& name, std::error_code& error) const;

  private:
    void removeAll(const std::string& name, std::size_t depth, std::error_code& error) const;

    FileDescriptor fd_;
};

} // namespace velnote::platform
