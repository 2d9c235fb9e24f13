#pragma once

#include <stdexcept>
#include <string>

namespace basalith {

// A failure of the model-hub client: the transfer, the server's answer, or the local cache.
class HubError : public std::runtime_error {
  public:
    enum class Kind {
        network,         // the connection failed, or no byte arrived within the idle limit
        httpStatus,      // the hub answered with an error status
        invalidResponse, // the answer cannot be trusted: malformed, too large, or of the wrong length
        fileSystem,      // the local cache cannot be written
        invalidName,     // a repository, model or file name given by a caller would leave its folder
        cancelled,       // the caller asked to stop
    };

    HubError(Kind kind, const std::string& message, long httpStatus = 0)
        : std::runtime_error(message), kind_(kind), httpStatus_(httpStatus) {}

    Kind kind() const { return kind_; }
    // The HTTP status for Kind::httpStatus; 0 otherwise.
    long httpStatus() const { return httpStatus_; }

  private:
    Kind kind_;
    long httpStatus_;
};

} // namespace basalith
