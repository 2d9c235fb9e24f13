#pragma once

#include <stdexcept>

namespace velnote {

// The failures of a persistent tool session. what() is a fixed Japanese text.
class CLISessionError : public std::runtime_error {
  public:
    enum class Kind {
        notRunning,     // no running tool (or no conversation id yet)
        encodingFailed, // the request could not be written as JSON (text that is not UTF-8)
        terminated,     // the tool went away or its input broke
        timeout,        // no answer within the session's reply limit
        busy,           // another request is waiting for its answer
    };

    explicit CLISessionError(Kind kind);

    Kind kind() const { return kind_; }
    bool operator==(const CLISessionError& other) const { return kind_ == other.kind_; }

  private:
    Kind kind_;
};

} // namespace velnote
