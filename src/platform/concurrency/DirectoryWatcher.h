#pragma once

#include "platform/concurrency/Executor.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

namespace velnote::platform {

class CallbackGuard;

// Watches one folder (not its sub-folders) for entries created, deleted or moved in or out, and
// for attribute changes of the folder itself, and calls back once per burst of such events: one
// debounce interval after the last event (real time). Writes inside the entries are not seen.
//
// When the folder itself is deleted, moved away or unmounted, the pending burst is reported at
// once (one callback) and watching stops for good: isWatching() turns false and no further
// callback comes, even if a folder appears again at the same path.
class DirectoryWatcher {
  public:
    static constexpr std::chrono::milliseconds defaultDebounce{500};

    // Calls `onChange` on `target`, which must outlive the watcher. Throws std::system_error when
    // the folder cannot be watched (missing, not a folder, no inotify instance left).
    DirectoryWatcher(const std::filesystem::path& folder, Executor& target, Job onChange,
                     std::chrono::milliseconds debounce = defaultDebounce);
    // Stops the watching thread. After it returns no callback runs or starts, except that
    // the destructor may be called from the callback itself.
    ~DirectoryWatcher();

    DirectoryWatcher(const DirectoryWatcher&) = delete;
    DirectoryWatcher& operator=(const DirectoryWatcher&) = delete;

    const std::filesystem::path& folder() const { return folder_; }
    // False once the folder itself has gone (see above).
    bool isWatching() const { return watching_.load(); }

  private:
    class FileDescriptor {
      public:
        explicit FileDescriptor(int fd) : fd_(fd) {}
        ~FileDescriptor();
        FileDescriptor(const FileDescriptor&) = delete;
        FileDescriptor& operator=(const FileDescriptor&) = delete;
        int get() const { return fd_; }

      private:
        int fd_;
    };

    enum class Burst { none, changed, folderGone };

    void runLoop();
    Burst readEvents();
    void deliver();

    std::filesystem::path folder_;
    Executor& target_;
    std::shared_ptr<CallbackGuard> guard_;
    std::shared_ptr<const Job> onChange_;
    std::chrono::milliseconds debounce_;
    FileDescriptor inotify_;
    FileDescriptor wakeUp_;
    std::atomic<bool> watching_{true};
    std::thread thread_;
};

} // namespace velnote::platform
