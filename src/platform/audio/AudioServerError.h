#pragma once

#include <stdexcept>
#include <string>

namespace velnote::platform {

// A request to the sound server failed: no server, a refused or timed-out request, a device that
// does not exist. what() is "<operation>: <the server's reason>".
class AudioServerError : public std::runtime_error {
  public:
    // The sound server's error numbers the callers tell apart (same values as libpulse's).
    static constexpr int kNoSuchEntity = 5;
    static constexpr int kTimeout = 8;
    static constexpr int kConnectionTerminated = 11;

    AudioServerError(const std::string& operation, int code, const std::string& reason)
        : std::runtime_error(operation + ": " + reason), code_(code) {}

    // The sound server's error number; 0 when the failure did not come from it.
    int code() const { return code_; }

  private:
    int code_;
};

} // namespace velnote::platform
