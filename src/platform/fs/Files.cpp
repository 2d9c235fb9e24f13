#include "platform/fs/Files.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace velnote::platform {
namespace fs = std::filesystem;
namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closes now so that a failed close is reported, not ignored.
    int close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

  private:
    int fd_;
};

[[noreturn]] void throwErrno(const std::string& what, const fs::path& path) {
    throw std::system_error(errno, std::generic_category(), what + " " + path.string());
}

void writeAll(int fd, std::string_view bytes, const fs::path& path) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throwErrno("write", path);
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

void syncFolder(const fs::path& folder) {
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get()); // best effort: the rename itself is done
}

FileTime fromTimespec(int64_t seconds, uint32_t nanoseconds) {
    using namespace std::chrono;
    return FileTime(duration_cast<FileTime::duration>(std::chrono::seconds(seconds) +
                                                      std::chrono::nanoseconds(nanoseconds)));
}

std::optional<struct statx> statxOf(const fs::path& path, unsigned mask) {
    struct statx st {};
    if (::statx(AT_FDCWD, path.c_str(), 0, mask, &st) != 0)
        return std::nullopt;
    return st;
}

} // namespace

void writeFileAtomically(const fs::path& path, std::string_view bytes, const AtomicWriteOptions& options) {
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::string pattern = (folder / ("." + path.filename().string() + ".tmp-XXXXXX")).string();
    FileDescriptor fd(::mkstemp(pattern.data()));
    if (fd.get() < 0)
        throwErrno("create temporary file for", path);
    const fs::path temporary = pattern;
    try {
        if (::fchmod(fd.get(), options.mode) != 0)
            throwErrno("chmod", temporary);
        writeAll(fd.get(), bytes, temporary);
        if (::fsync(fd.get()) != 0)
            throwErrno("fsync", temporary);
        if (fd.close() != 0)
            throwErrno("close", temporary);
        if (options.beforeRename)
            options.beforeRename(temporary);
        if (::rename(temporary.c_str(), path.c_str()) != 0)
            throwErrno("rename onto", path);
    } catch (...) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw;
    }
    syncFolder(folder);
}

void appendToFile(const fs::path& path, std::string_view bytes) {
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (fd.get() < 0)
        throwErrno("open for append", path);
    writeAll(fd.get(), bytes, path);
    if (fd.close() != 0)
        throwErrno("close", path);
}

std::string readFile(const fs::path& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        throwErrno("open", path);
    std::string out;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throwErrno("read", path);
        }
        if (n == 0)
            break;
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

std::optional<std::string> readFileIfPresent(const fs::path& path) {
    try {
        return readFile(path);
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

std::vector<fs::path> listDirectory(const fs::path& folder, HiddenEntries hidden) {
    std::error_code ignored;
    return listDirectory(folder, hidden, ignored);
}

std::vector<fs::path> listDirectory(const fs::path& folder, HiddenEntries hidden, std::error_code& error) {
    error.clear();
    std::vector<fs::path> entries;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) {
        error.assign(errno, std::generic_category());
        return entries;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0) {
                error.assign(errno, std::generic_category());
                entries.clear();
            }
            return entries;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (hidden == HiddenEntries::skip && name.front() == '.')
            continue;
        entries.push_back(folder / name);
    }
}

std::optional<FileTime> creationDate(const fs::path& path) {
    const auto st = statxOf(path, STATX_BTIME | STATX_MTIME);
    if (!st)
        return std::nullopt;
    if (st->stx_mask & STATX_BTIME)
        return fromTimespec(st->stx_btime.tv_sec, st->stx_btime.tv_nsec);
    return fromTimespec(st->stx_mtime.tv_sec, st->stx_mtime.tv_nsec);
}

std::optional<FileTime> modificationDate(const fs::path& path) {
    const auto st = statxOf(path, STATX_MTIME);
    if (!st)
        return std::nullopt;
    return fromTimespec(st->stx_mtime.tv_sec, st->stx_mtime.tv_nsec);
}

void createDirectories(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        throw std::system_error(ec, "create folder " + folder.string());
}

} // namespace velnote::platform
