#pragma once

#include <exception>
#include <string>

namespace velnote::platform {

// The description of a caught failure for a log line: what() of a standard exception, else
// "unknown error".
inline std::string describeError(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        return caught.what();
    } catch (...) {
        return "unknown error";
    }
}

} // namespace velnote::platform
