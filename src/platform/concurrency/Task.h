#pragma once

#include "platform/concurrency/CancellationError.h"
#include "platform/concurrency/Executor.h"

#include <chrono>
#include <functional>
#include <future>
#include <stop_token>
#include <type_traits>
#include <utility>

namespace velnote::platform {

// The result of work started with startTask(), with a way to ask it to stop.
// Cancellation is cooperative: cancel() only requests stop; the work sees it through its
// std::stop_token and usually ends by throwing CancellationError (throwIfCancelled()).
// Dropping a Task neither cancels nor waits for the work.
template <class T> class Task {
  public:
    Task() = default;
    Task(std::future<T> future, std::stop_source stop) : future_(std::move(future)), stop_(std::move(stop)) {}

    void cancel() noexcept { stop_.request_stop(); }
    bool isCancelled() const noexcept { return stop_.stop_requested(); }
    std::stop_token stopToken() const noexcept { return stop_.get_token(); }

    // False for a default-constructed Task or after get().
    bool valid() const noexcept { return future_.valid(); }

    // Waits and returns the result, or rethrows what the work threw (CancellationError when it
    // gave up; std::future_error broken_promise when its executor dropped it unrun). Once only.
    T get() { return future_.get(); }
    void wait() const { future_.wait(); }
    // True when the work has finished within `timeout`.
    template <class Rep, class Period> bool waitFor(std::chrono::duration<Rep, Period> timeout) const {
        return future_.wait_for(timeout) == std::future_status::ready;
    }

  private:
    std::future<T> future_;
    std::stop_source stop_;
};

// Runs `work(std::stop_token)` on `executor` and returns its Task. A task cancelled before its
// turn comes does not call `work` and reports CancellationError.
template <class F> auto startTask(Executor& executor, F&& work) {
    using Result = std::invoke_result_t<std::decay_t<F>&, std::stop_token>;
    std::stop_source stop;
    auto future =
        executor.submit([work = std::forward<F>(work), token = stop.get_token()]() mutable -> Result {
            throwIfCancelled(token);
            return std::invoke(work, token);
        });
    return Task<Result>(std::move(future), std::move(stop));
}

} // namespace velnote::platform
