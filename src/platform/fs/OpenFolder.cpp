#include "platform/fs/OpenFolder.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace velnote::platform {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::error_code lastError() {
    return {errno, std::generic_category()};
}

std::optional<OpenFolder> opened(int fd, std::error_code& error) {
    if (fd < 0) {
        error = lastError();
        return std::nullopt;
    }
    error.clear();
    return OpenFolder(FileDescriptor(fd));
}

} // namespace

OpenFolder::OpenFolder(FileDescriptor folder) : fd_(std::move(folder)) {}

std::optional<OpenFolder> OpenFolder::open(const std::filesystem::path& path, std::error_code& error) {
    return opened(::open(path.c_str(), kFolderFlags), error);
}

std::optional<OpenFolder> OpenFolder::openFolder(const std::string& name, std::error_code& error) const {
    return opened(::openat(fd_.get(), name.c_str(), kFolderFlags), error);
}

std::vector<std::string> OpenFolder::entryNames(HiddenEntries hidden, std::error_code& error) const {
    error.clear();
    std::vector<std::string> names;
    const int copy = ::fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        error = lastError();
        return names;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(copy), ::closedir);
    if (!dir) {
        error = lastError();
        ::close(copy);
        return names;
    }
    ::rewinddir(dir.get()); // the copy shares its position with every earlier listing
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0) {
                error = lastError();
                names.clear();
            }
            return names;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (hidden == HiddenEntries::skip && name.front() == '.')
            continue;
        names.emplace_back(name);
    }
}

void OpenFolder::removeAll(const std::string& name, std::error_code& error) const {
    error.clear();
    struct stat st {};
    if (::fstatat(fd_.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        error = lastError();
        return;
    }
    removeAll(name, 0, error);
}

void OpenFolder::removeAll(const std::string& name, std::size_t depth, std::error_code& error) const {
    if (::unlinkat(fd_.get(), name.c_str(), 0) == 0 || errno == ENOENT)
        return;
    if (errno != EISDIR) {
        error = lastError();
        return;
    }
    if (depth >= kMaxRemovalDepth) {
        error = std::make_error_code(std::errc::filename_too_long);
        return;
    }
    const auto folder = openFolder(name, error);
    if (!folder)
        return;
    const auto names = folder->entryNames(HiddenEntries::include, error);
    for (const std::string& entry : names) {
        if (!error)
            folder->removeAll(entry, depth + 1, error);
    }
    if (!error && ::unlinkat(fd_.get(), name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
        error = lastError();
}

void OpenFolder::removeFile(const std::string& name, std::error_code& error) const {
    error.clear();
    if (::unlinkat(fd_.get(), name.c_str(), 0) != 0)
        error = lastError();
}

void OpenFolder::removeEmptyFolder(const std::string& name, std::error_code& error) const {
    error.clear();
    if (::unlinkat(fd_.get(), name.c_str(), AT_REMOVEDIR) != 0)
        error = lastError();
}

} // namespace velnote::platform
