#pragma once

#include <future>
#include <mutex>
#include <optional>

namespace velnote {

// Lets exactly one of several parties (a callback on any thread, a cancellation) hand a value to
// one waiting caller: the first resume() delivers, every later one does nothing.
template <class T> class OnceResume {
  public:
    std::future<T> waiter() { return promise_->get_future(); }

    // True when this call delivered the value.
    bool resume(T value) {
        std::optional<std::promise<T>> taken;
        {
            std::lock_guard lock(mutex_);
            taken.swap(promise_);
        }
        if (!taken) {
            return false;
        }
        taken->set_value(std::move(value));
        return true;
    }

  private:
    std::mutex mutex_;
    std::optional<std::promise<T>> promise_{std::in_place};
};

} // namespace velnote
