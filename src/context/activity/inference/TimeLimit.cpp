#include "context/activity/inference/TimeLimit.h"

#include "platform/concurrency/CancellationError.h"
#include "platform/error/DomainError.h"

#include <atomic>
#include <chrono>
#include <memory>

namespace velnote {

namespace {

constexpr const char* kDomain = "ForegroundAppSessionMonitor";

// Runs the timer's job on the timer's own thread: it only sets a flag and requests a stop.
class ImmediateExecutor final : public platform::Executor {
  public:
    void post(platform::Job job) override { job(); }
};

struct Race {
    std::stop_source source;
    std::atomic<bool> timedOut = false;
    std::atomic<bool> cancelled = false;
};

} // namespace

void throwInferenceTimeout() {
    throw platform::DomainError(kDomain, 1, "Inference timeout");
}

bool isInferenceTimeout(const std::exception& error) {
    const auto* domain = dynamic_cast<const platform::DomainError*>(&error);
    return domain != nullptr && domain->domain() == kDomain;
}

void runWithTimeLimit(double seconds, platform::TimerScheduler& timers, std::stop_token stop,
                      const std::function<void(std::stop_token)>& operation) {
    static ImmediateExecutor immediate;
    auto race = std::make_shared<Race>();
    std::stop_callback forward(stop, [race] {
        race->cancelled = true;
        race->source.request_stop();
    });
    const auto limit =
        std::chrono::duration_cast<platform::Clock::Duration>(std::chrono::duration<double>(seconds));
    platform::Timer timer = timers.once(limit, immediate, [race] {
        race->timedOut = true;
        race->source.request_stop();
    });
    auto decide = [&] {
        timer.cancel();
        if (race->timedOut) {
            throwInferenceTimeout();
        }
        if (race->cancelled) {
            throw platform::CancellationError();
        }
    };
    try {
        operation(race->source.get_token());
    } catch (...) {
        decide();
        throw;
    }
    decide();
}

} // namespace velnote
