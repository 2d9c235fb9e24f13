#pragma once

#include <unistd.h>
#include <utility>

namespace velnote::platform {

// An open file descriptor, closed when it goes; -1 holds nothing.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    // Hands the descriptor to a new owner, which closes it.
    int release() { return std::exchange(fd_, -1); }
    // Closes now so that a failed close is reported, not ignored.
    int close() { return ::close(std::exchange(fd_, -1)); }

  private:
    int fd_;
};

} // namespace velnote::platform
