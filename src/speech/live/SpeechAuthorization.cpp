#include "speech/live/SpeechAuthorization.h"

#include "speech/live/OnceResume.h"

#include <memory>

namespace velnote {

bool ensureSpeechAuthorization(platform::SpeechAuthorizer& authorizer, const std::stop_token& stop) {
    using Status = platform::SpeechAuthorizationStatus;
    const Status status = authorizer.status();
    if (status == Status::authorized) {
        return true;
    }
    if (status != Status::notDetermined || stop.stop_requested()) {
        return false;
    }
    // Shared: the authorizer's callback may outlive this call.
    auto guard = std::make_shared<OnceResume<bool>>();
    auto answer = guard->waiter();
    std::stop_callback onStop(stop, [guard] { guard->resume(false); });
    authorizer.requestAuthorization(
        [guard](Status granted) { guard->resume(granted == Status::authorized); });
    return answer.get();
}

} // namespace velnote
