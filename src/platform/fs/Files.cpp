#include "platform/fs/Files.h"

#include "platform/fs/FileDescriptor.h"
#include "platform/fs/OpenFolder.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace velnote::platform {
namespace fs = std::filesystem;
namespace {

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

constexpr std::string_view kTemporaryMarker = ".tmp-";
constexpr std::size_t kTemporarySuffixLength = 6; // mkstemp's "XXXXXX"
// A live write locks its temporary file just after creating it; in that instant the file is
// unlocked but new. Anything this much older than a fresh write and unlocked is left by a
// write that died.
constexpr std::chrono::seconds kStaleTemporaryAge(5);

// ".<name>.tmp-XXXXXX", as writeFileAtomically names its temporary files.
bool isTemporaryName(std::string_view name) {
    const std::size_t marker = name.rfind(kTemporaryMarker);
    return name.size() > 1 && name.front() == '.' && marker != std::string_view::npos && marker > 1 &&
           name.size() - marker == kTemporaryMarker.size() + kTemporarySuffixLength;
}

std::chrono::nanoseconds modifiedAt(const struct stat& st) {
    return std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec);
}

// Best effort: what cannot be examined, locked or removed stays. `now` is the modification time
// of the file just written, so the file system's clock is compared with itself.
void removeStaleTemporaries(const fs::path& folder, int folderFd, std::chrono::nanoseconds now) {
    for (const fs::path& entry : listDirectory(folder, HiddenEntries::include)) {
        const std::string name = entry.filename().string();
        if (!isTemporaryName(name))
            continue;
        FileDescriptor file(::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st {};
        if (file.get() < 0 || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (now - modifiedAt(st) < kStaleTemporaryAge || ::flock(file.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        ::unlinkat(folderFd, name.c_str(), 0);
    }
}

// Syncs the folder (best effort: the rename itself is done) and sweeps it.
void finishFolder(const fs::path& folder, std::chrono::nanoseconds now) {
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        return;
    ::fsync(dir.get());
    removeStaleTemporaries(folder, dir.get(), now);
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

AtomicFileWriter::AtomicFileWriter(fs::path path, mode_t mode) : path_(std::move(path)) {
    const fs::path folder = path_.has_parent_path() ? path_.parent_path() : fs::path(".");
    std::string pattern =
        (folder / ("." + path_.filename().string() + std::string(kTemporaryMarker) + "XXXXXX")).string();
    fd_ = FileDescriptor(::mkstemp(pattern.data()));
    if (fd_.get() < 0)
        throwErrno("create temporary file for", path_);
    temporary_ = pattern;
    // Held until the rename, so that no other write's sweep takes this file for a leftover.
    // Best effort: where the file system has no locks, the sweep's age rule still holds.
    ::flock(fd_.get(), LOCK_EX);
    if (::fchmod(fd_.get(), mode) != 0) {
        const int error = errno;
        std::error_code ignored;
        fs::remove(temporary_, ignored);
        throw std::system_error(error, std::generic_category(), "chmod " + temporary_.string());
    }
}

AtomicFileWriter::~AtomicFileWriter() {
    if (!committed_) {
        std::error_code ignored;
        fs::remove(temporary_, ignored);
    }
}

void AtomicFileWriter::write(std::string_view bytes) {
    writeAll(fd_.get(), bytes, temporary_);
}

void AtomicFileWriter::commit(const std::function<void(const fs::path& temporary)>& beforeRename) {
    struct stat written {};
    if (::fsync(fd_.get()) != 0 || ::fstat(fd_.get(), &written) != 0)
        throwErrno("fsync", temporary_);
    if (beforeRename)
        beforeRename(temporary_);
    if (::rename(temporary_.c_str(), path_.c_str()) != 0)
        throwErrno("rename onto", path_);
    committed_ = true;
    // The data is synced: a late close failure cannot lose it.
    fd_.close();
    finishFolder(path_.has_parent_path() ? path_.parent_path() : fs::path("."), modifiedAt(written));
}

void writeFileAtomically(const fs::path& path, std::string_view bytes, const AtomicWriteOptions& options) {
    AtomicFileWriter writer(path, options.mode);
    writer.write(bytes);
    writer.commit(options.beforeRename);
}

void appendToFile(const fs::path& path, std::string_view bytes) {
    FileDescriptor fd = openRegularFile(path, O_WRONLY | O_APPEND | O_CREAT, 0600);
    writeAll(fd.get(), bytes, path);
    if (fd.close() != 0)
        throwErrno("close", path);
}

void appendLines(const fs::path& path, std::string_view lines) {
    FileDescriptor fd = openRegularFile(path, O_RDWR | O_APPEND | O_CREAT, 0600);
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0)
        throwErrno("stat", path);
    char last = '\n';
    if (status.st_size > 0 && ::pread(fd.get(), &last, 1, status.st_size - 1) != 1)
        throwErrno("read the end of", path);
    if (last != '\n')
        writeAll(fd.get(), "\n" + std::string(lines), path);
    else
        writeAll(fd.get(), lines, path);
    if (fd.close() != 0)
        throwErrno("close", path);
}

// Non-blocking, so that opening a FIFO returns at once instead of waiting for its other end;
// anything but a regular file is refused before a byte moves. (Regular files ignore the flag.)
FileDescriptor openRegularFile(const fs::path& path, int flags, unsigned mode) {
    FileDescriptor fd(::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, static_cast<mode_t>(mode)));
    if (fd.get() < 0)
        throwErrno("open", path);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        throwErrno("stat", path);
    if (!S_ISREG(st.st_mode)) {
        const char* use = (flags & O_ACCMODE) == O_RDONLY ? "read " : "write ";
        throw std::system_error(std::make_error_code(std::errc::invalid_argument),
                                use + path.string() + ": not a regular file");
    }
    return fd;
}

FileDescriptor openRegularFile(const fs::path& path) {
    return openRegularFile(path, O_RDONLY, 0);
}

namespace {

// The bytes `fd` yields up to its end, or until more than `limit` are in.
std::string readUpTo(int fd, const fs::path& path, std::size_t limit) {
    std::string out;
    char buffer[65536];
    while (out.size() <= limit) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
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

std::string readUpTo(const fs::path& path, std::size_t limit) {
    const FileDescriptor fd = openRegularFile(path);
    return readUpTo(fd.get(), path, limit);
}

} // namespace

std::string readFile(const fs::path& path) {
    return readUpTo(path, std::string::npos);
}

std::string readRegularFile(const fs::path& path, std::size_t maxBytes) {
    std::string bytes = readUpTo(path, maxBytes);
    if (bytes.size() > maxBytes) {
        throw std::system_error(std::make_error_code(std::errc::file_too_large),
                                "read " + path.string() + ": more than " + std::to_string(maxBytes) +
                                    " bytes");
    }
    return bytes;
}

LeadingLines readLeadingLines(const fs::path& path, std::size_t limit) {
    std::string bytes = readUpTo(path, limit);
    if (bytes.size() <= limit)
        return {.text = std::move(bytes), .cut = false};
    const std::size_t lastBreak = limit == 0 ? std::string::npos : bytes.rfind('\n', limit - 1);
    bytes.resize(lastBreak == std::string::npos ? 0 : lastBreak + 1);
    return {.text = std::move(bytes), .cut = true};
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
    std::vector<fs::path> entries;
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) {
        error.assign(errno, std::generic_category());
        return entries;
    }
    for (const std::string& name : OpenFolder(std::move(fd)).entryNames(hidden, error))
        entries.push_back(folder / name);
    return entries;
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
    if (fs::is_directory(folder, ec))
        return;
    // Level by level, so that every folder made here is 0700; the umask can only take bits away.
    fs::path partial;
    for (const fs::path& part : folder) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            throw fs::filesystem_error("create folder", partial,
                                       std::error_code(errno, std::generic_category()));
    }
    if (!fs::is_directory(folder, ec))
        throw fs::filesystem_error("create folder", folder, std::make_error_code(std::errc::not_a_directory));
}

} // namespace velnote::platform
