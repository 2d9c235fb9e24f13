#pragma once

#include <stdexcept>
#include <string>

namespace velnote::platform {

// A request that got no complete HTTP reply. An answer with any status code is not an error
// here; the caller judges the status. Cancellation is reported as CancellationError instead.
class HttpError : public std::runtime_error {
  public:
    enum class Code {
        badURL,                   // not an absolute http or https URL
        invalidRequest,           // a header name or value with a line break or NUL byte
        cannotFindHost,           // the host name does not resolve
        cannotConnectToHost,      // nothing answers at the address
        timedOut,                 // no data moved for the idle limit, or the whole limit passed
        networkConnectionLost,    // the connection broke or closed before a whole reply
        secureConnectionFailed,   // TLS could not be set up or the peer was not trusted
        badServerResponse,        // the reply is not HTTP the client can read
        dataLengthExceedsMaximum, // the reply body is larger than the client keeps
        unknown,
    };

    // `detail`: libcurl's own words, appended to the description in parentheses when not empty.
    HttpError(Code code, const std::string& detail);

    Code code() const { return code_; }

  private:
    Code code_;
};

// The English sentence for `code`, e.g. "The request timed out.".
const char* describe(HttpError::Code code);

} // namespace velnote::platform
