#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>

namespace basalith {

// An exclusive lock held on a small lock file, excluding other threads and other processes alike:
// flock() locks an open file, so two handles opened in one process exclude each other as well.
// The holder may delete the lock file. A waiter that then wins the deleted file notices and locks
// the file now at the path, so deleting a lock file never lets two holders in.
//
// The file may also carry a short text for the holder (the hub client keeps the validator of a
// partial download in it). Not synchronised: one thread uses one FileLock object.
class FileLock {
  public:
    // Blocks until the lock is held, checking `stop` while it waits. Throws HubError: cancelled
    // when stop is requested first, fileSystem when the lock file cannot be opened.
    static FileLock acquire(const std::filesystem::path& path, const std::stop_token& stop);
    // The lock when nobody holds it; absent when it is held or the file cannot be opened.
    static std::optional<FileLock> tryAcquire(const std::filesystem::path& path);

    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock(); // releases the lock

    // Longest text content() gives back.
    static constexpr std::size_t kMaxContentBytes = 4096;

    // The text stored in the lock file ("" for a new file). A file longer than kMaxContentBytes
    // was not written by setContent (or is damaged) and reads as "" without being read whole.
    std::string content() const;
    // Replaces the stored text. Throws HubError (fileSystem).
    void setContent(const std::string& text);
    // Deletes the lock file while still holding it; the lock is released when this object goes.
    void removeFile();

  private:
    FileLock(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}
    void release() noexcept;

    int fd_ = -1;
    std::filesystem::path path_;
};

} // namespace basalith
