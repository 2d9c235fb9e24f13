#pragma once

#include "platform/concurrency/TimerScheduler.h"

#include <functional>
#include <optional>
#include <stop_token>
#include <utility>

namespace velnote {

// The error of a time limit that passed before its work ended: domain "ForegroundAppSessionMonitor",
// code 1, "Inference timeout".
[[noreturn]] void throwInferenceTimeout();
// Whether `error` is that error.
bool isInferenceTimeout(const std::exception& error);

// Runs `operation` on the calling thread with a stop token that is triggered when `seconds` pass
// on the scheduler's clock or when `stop` is requested. Whichever ends first decides: the
// operation's result or error, the timeout error, or platform::CancellationError for the caller's
// stop. The call returns only once the operation has ended: an operation that ignores its token
// holds the caller, and its late result is dropped.
void runWithTimeLimit(double seconds, platform::TimerScheduler& timers, std::stop_token stop,
                      const std::function<void(std::stop_token)>& operation);

template <class T>
T withTimeLimit(double seconds, platform::TimerScheduler& timers, std::stop_token stop,
                const std::function<T(std::stop_token)>& operation) {
    std::optional<T> result;
    runWithTimeLimit(seconds, timers, std::move(stop),
                     [&](std::stop_token token) { result = operation(token); });
    return std::move(*result);
}

} // namespace velnote
