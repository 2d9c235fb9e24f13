#include "platform/http/HttpError.h"

namespace velnote::platform {
namespace {

std::string message(HttpError::Code code, const std::string& detail) {
    std::string text = describe(code);
    if (!detail.empty())
        text += " (" + detail + ")";
    return text;
}

} // namespace

HttpError::HttpError(Code code, const std::string& detail)
    : std::runtime_error(message(code, detail)), code_(code) {}

const char* describe(HttpError::Code code) {
    switch (code) {
    case HttpError::Code::badURL:
        return "unsupported URL";
    case HttpError::Code::invalidRequest:
        return "The request could not be built.";
    case HttpError::Code::cannotFindHost:
        return "A server with the specified hostname could not be found.";
    case HttpError::Code::cannotConnectToHost:
        return "Could not connect to the server.";
    case HttpError::Code::timedOut:
        return "The request timed out.";
    case HttpError::Code::networkConnectionLost:
        return "The network connection was lost.";
    case HttpError::Code::secureConnectionFailed:
        return "A TLS error caused the secure connection to fail.";
    case HttpError::Code::badServerResponse:
        return "The server returned a reply that could not be read.";
    case HttpError::Code::dataLengthExceedsMaximum:
        return "The resource exceeds the maximum size.";
    case HttpError::Code::unknown:
        break;
    }
    return "An unknown network error occurred.";
}

} // namespace velnote::platform
