#include "platform/wake/WallClockTimer.h"

#include "platform/concurrency/CallbackGuard.h"

#include <atomic>
#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace velnote::platform {
namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd, const char* what) : fd_(fd) {
        if (fd_ < 0) {
            throw std::system_error(errno, std::generic_category(), what);
        }
    }
    ~FileDescriptor() { ::close(fd_); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

class WallTimer final : public Timer::Control, public std::enable_shared_from_this<WallTimer> {
  public:
    WallTimer(Executor& target, Job callback)
        : target_(target), callback_(std::move(callback)),
          timerFd_(::timerfd_create(CLOCK_REALTIME, TFD_CLOEXEC | TFD_NONBLOCK), "timerfd_create"),
          stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK), "eventfd") {}

    ~WallTimer() override { stopThread(); }

    void arm(Clock::WallTime due) {
        const auto sinceEpoch = due.time_since_epoch();
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
        const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch - seconds);
        itimerspec spec{};
        spec.it_value.tv_sec = seconds.count();
        spec.it_value.tv_nsec = nanos.count();
        if (spec.it_value.tv_sec <= 0 && spec.it_value.tv_nsec <= 0) {
            spec.it_value.tv_nsec = 1; // all zero would disarm the timer
        }
        if (::timerfd_settime(timerFd_.get(), TFD_TIMER_ABSTIME, &spec, nullptr) != 0) {
            throw std::system_error(errno, std::generic_category(), "timerfd_settime");
        }
        // The thread holds only a weak reference: dropping the handle ends the timer.
        thread_ = std::thread([weak = weak_from_this(), timerFd = timerFd_.get(), stopFd = stopFd_.get()] {
            pollfd fds[2] = {{timerFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
            while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
            }
            if (!(fds[0].revents & POLLIN) || (fds[1].revents & POLLIN)) {
                return;
            }
            if (auto self = weak.lock()) {
                self->target_.post([self] { self->deliver(); });
            }
        });
    }

    void cancel() override {
        guard_.revoke();
        stopThread();
    }
    bool isActive() const override { return !guard_.isRevoked() && !finished_.load(); }

  private:
    void deliver() {
        guard_.run([this] {
            finished_ = true;
            callback_();
        });
    }

    void stopThread() {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(stopFd_.get(), &one, sizeof one);
        if (thread_.joinable()) {
            if (thread_.get_id() == std::this_thread::get_id()) {
                thread_.detach(); // the last reference went away on the timer's own thread
            } else {
                thread_.join();
            }
        }
    }

    Executor& target_;
    const Job callback_;
    FileDescriptor timerFd_;
    FileDescriptor stopFd_;
    CallbackGuard guard_;
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

} // namespace

Timer WallClockTimer::at(Clock::WallTime due, Executor& target, Job callback) {
    auto timer = std::make_shared<WallTimer>(target, std::move(callback));
    timer->arm(due);
    return Timer(timer);
}

} // namespace velnote::platform
