#pragma once

#include <functional>
#include <future>
#include <memory>
#include <type_traits>
#include <utility>

namespace velnote::platform {

using Job = std::function<void()>;

// Something that runs jobs: a SerialExecutor, the ThreadPool, the MainDispatcher.
// A job that lets an exception escape terminates the process; use submit() for work that can fail.
class Executor {
  public:
    virtual ~Executor() = default;

    // Queues `job`; safe from any thread, including from a job of this executor.
    virtual void post(Job job) = 0;

    // Queues `fn` and returns a future of its result; an exception from `fn` is rethrown by
    // get(). A job dropped unrun (executor destroyed first) reports std::future_errc::broken_promise.
    template <class F> auto submit(F&& fn) -> std::future<std::invoke_result_t<std::decay_t<F>&>> {
        using Result = std::invoke_result_t<std::decay_t<F>&>;
        // std::function needs a copyable callable; packaged_task is move-only.
        auto task = std::make_shared<std::packaged_task<Result()>>(std::forward<F>(fn));
        auto future = task->get_future();
        post([task] { (*task)(); });
        return future;
    }
};

} // namespace velnote::platform
