#include "platform/concurrency/DirectoryWatcher.h"

#include "platform/concurrency/CallbackGuard.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <system_error>
#include <unistd.h>

namespace velnote::platform {

namespace {

constexpr std::uint32_t entryEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr std::uint32_t folderGoneEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;

int checked(int result, const char* what) {
    if (result < 0) {
        throw std::system_error(errno, std::generic_category(), what);
    }
    return result;
}

int addWatch(int inotifyFd, const std::filesystem::path& folder) {
    const std::uint32_t mask = entryEvents | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    const int watch = inotify_add_watch(inotifyFd, folder.c_str(), mask);
    if (watch < 0) {
        throw std::system_error(errno, std::generic_category(), "cannot watch " + folder.string());
    }
    return watch;
}

int pollTimeoutMs(std::optional<std::chrono::steady_clock::time_point> deadline) {
    if (!deadline) {
        return -1;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

} // namespace

DirectoryWatcher::FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

DirectoryWatcher::DirectoryWatcher(const std::filesystem::path& folder, Executor& target, Job onChange,
                                   std::chrono::milliseconds debounce)
    : folder_(folder), target_(target), guard_(std::make_shared<CallbackGuard>()),
      onChange_(std::make_shared<const Job>(std::move(onChange))), debounce_(debounce),
      inotify_(checked(inotify_init1(IN_NONBLOCK | IN_CLOEXEC), "inotify_init1")),
      wakeUp_(checked(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC), "eventfd")) {
    addWatch(inotify_.get(), folder_);
    thread_ = std::thread([this] { runLoop(); });
}

DirectoryWatcher::~DirectoryWatcher() {
    const std::uint64_t one = 1;
    // An eventfd write of 8 bytes cannot be partial, and only fails when the counter would overflow.
    [[maybe_unused]] const auto written = ::write(wakeUp_.get(), &one, sizeof one);
    thread_.join();
    guard_->revoke();
}

void DirectoryWatcher::runLoop() {
    std::optional<std::chrono::steady_clock::time_point> deadline;
    for (;;) {
        std::array<pollfd, 2> fds{{{inotify_.get(), POLLIN, 0}, {wakeUp_.get(), POLLIN, 0}}};
        const int ready = ::poll(fds.data(), fds.size(), pollTimeoutMs(deadline));
        if (ready < 0 && errno != EINTR) {
            watching_ = false;
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if (fds[0].revents != 0) {
            const auto burst = readEvents();
            if (burst == Burst::folderGone) {
                watching_ = false;
                deliver();
                return;
            }
            if (burst == Burst::changed) {
                deadline = std::chrono::steady_clock::now() + debounce_;
            }
        }
        if (deadline && std::chrono::steady_clock::now() >= *deadline) {
            deadline.reset();
            deliver();
        }
    }
}

DirectoryWatcher::Burst DirectoryWatcher::readEvents() {
    Burst burst = Burst::none;
    alignas(inotify_event) std::array<char, 4096> buffer{};
    for (;;) {
        const auto length = ::read(inotify_.get(), buffer.data(), buffer.size());
        if (length <= 0) {
            // EAGAIN: all read. Any other failure leaves nothing to read either.
            return burst;
        }
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if ((event->mask & folderGoneEvents) != 0) {
                return Burst::folderGone;
            }
            // An attribute change of an entry carries its name; the folder's own carries none.
            const bool folderAttributes = (event->mask & IN_ATTRIB) != 0 && event->len == 0;
            // A queue overflow lost events; report a change to be safe.
            if ((event->mask & (entryEvents | IN_Q_OVERFLOW)) != 0 || folderAttributes) {
                burst = Burst::changed;
            }
        }
    }
}

void DirectoryWatcher::deliver() {
    target_.post([guard = guard_, onChange = onChange_] { guard->run(*onChange); });
}

} // namespace velnote::platform
