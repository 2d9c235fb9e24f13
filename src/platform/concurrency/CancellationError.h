#pragma once

#include <stdexcept>
#include <stop_token>

namespace velnote::platform {

// Thrown by work that gave up because its task was cancelled.
class CancellationError : public std::runtime_error {
  public:
    CancellationError();
};

// Throws CancellationError when stop has been requested on `token`; the check work makes at
// the points where it can stop.
void throwIfCancelled(const std::stop_token& token);

} // namespace velnote::platform
