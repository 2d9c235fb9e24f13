#pragma once

#include <memory>

namespace velnote::platform {

// The handle of a scheduled callback (TimerScheduler). Destroying it cancels the timer.
class Timer {
  public:
    // What a scheduler gives the handle to act on its timer.
    class Control {
      public:
        virtual ~Control() = default;
        virtual void cancel() = 0;
        virtual bool isActive() const = 0;
    };

    Timer() = default;
    explicit Timer(std::shared_ptr<Control> control) : control_(std::move(control)) {}
    ~Timer() { cancel(); }

    Timer(Timer&&) noexcept = default;
    Timer& operator=(Timer&& other) noexcept {
        if (this != &other) {
            cancel();
            control_ = std::move(other.control_);
        }
        return *this;
    }
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // After it returns the callback is not running (unless cancel() is called from the callback
    // itself) and will not run again. Waits for a callback running on another thread.
    void cancel() {
        if (control_) {
            control_->cancel();
            control_.reset();
        }
    }

    // True while the callback may still run: not cancelled, and for a one-shot timer not yet run.
    bool isActive() const { return control_ && control_->isActive(); }

  private:
    std::shared_ptr<Control> control_;
};

} // namespace velnote::platform
