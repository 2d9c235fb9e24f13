#include "platform/concurrency/CancellationError.h"

namespace velnote::platform {

CancellationError::CancellationError() : std::runtime_error("the task was cancelled") {}

void throwIfCancelled(const std::stop_token& token) {
    if (token.stop_requested()) {
        throw CancellationError();
    }
}

} // namespace velnote::platform
