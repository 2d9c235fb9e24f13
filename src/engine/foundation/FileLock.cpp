#include "engine/foundation/FileLock.h"

#include "engine/foundation/HubError.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;

namespace basalith {
namespace {

// flock() cannot be woken by a stop request, so a waiter tries again at this interval.
constexpr std::chrono::milliseconds kRetryInterval{20};

// An open descriptor, closed when it goes out of scope unless released.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

Descriptor openLockFile(const fs::path& path) {
    return Descriptor(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
}

// True when `fd` is still the file at `path`: a holder may have deleted it (or it was replaced)
// between our open() and our winning the lock.
bool isStillAtPath(int fd, const fs::path& path) {
    struct stat opened {};
    struct stat current {};
    return ::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &current) == 0 &&
           opened.st_dev == current.st_dev && opened.st_ino == current.st_ino;
}

enum class Attempt { held, busy, failed };

Attempt tryLock(int fd) {
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return Attempt::held;
        if (errno == EWOULDBLOCK)
            return Attempt::busy;
        if (errno != EINTR)
            return Attempt::failed;
    }
}

// Waits one retry interval or until stop is requested; false when it was.
bool pause(const std::stop_token& stop) {
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    wake.wait_for(lock, stop, kRetryInterval, [] { return false; });
    return !stop.stop_requested();
}

[[noreturn]] void throwCannotLock(const fs::path& path) {
    throw HubError(HubError::Kind::fileSystem, "cannot lock " + path.string());
}

} // namespace

FileLock FileLock::acquire(const fs::path& path, const std::stop_token& stop) {
    for (;;) {
        if (stop.stop_requested())
            throw HubError(HubError::Kind::cancelled, "stopped while waiting for " + path.string());
        Descriptor fd = openLockFile(path);
        if (fd.get() < 0)
            throwCannotLock(path);
        Attempt attempt;
        while ((attempt = tryLock(fd.get())) == Attempt::busy) {
            if (!pause(stop))
                throw HubError(HubError::Kind::cancelled, "stopped while waiting for " + path.string());
        }
        if (attempt == Attempt::failed)
            throwCannotLock(path);
        if (isStillAtPath(fd.get(), path))
            return FileLock(fd.release(), path);
    }
}

std::optional<FileLock> FileLock::tryAcquire(const fs::path& path) {
    Descriptor fd = openLockFile(path);
    if (fd.get() < 0 || tryLock(fd.get()) != Attempt::held || !isStillAtPath(fd.get(), path))
        return std::nullopt;
    return FileLock(fd.release(), path);
}

FileLock::FileLock(FileLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

FileLock::~FileLock() {
    release();
}

void FileLock::release() noexcept {
    if (fd_ >= 0)
        ::close(std::exchange(fd_, -1)); // closing the last descriptor of the file drops the lock
}

std::string FileLock::content() const {
    std::string text;
    char buffer[256];
    for (off_t offset = 0;;) {
        const ssize_t count = ::pread(fd_, buffer, sizeof buffer, offset);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(count));
        if (text.size() > kMaxContentBytes)
            return {};
        offset += count;
    }
}

void FileLock::setContent(const std::string& text) {
    bool written = ::ftruncate(fd_, 0) == 0;
    for (std::size_t done = 0; written && done < text.size();) {
        const ssize_t count = ::pwrite(fd_, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (count < 0 && errno == EINTR)
            continue;
        written = count > 0;
        if (written)
            done += static_cast<std::size_t>(count);
    }
    if (!written)
        throw HubError(HubError::Kind::fileSystem, "cannot write " + path_.string());
}

void FileLock::removeFile() {
    std::error_code ignored;
    fs::remove(path_, ignored);
}

} // namespace basalith
