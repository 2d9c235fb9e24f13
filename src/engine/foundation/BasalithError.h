#pragma once

#include <stdexcept>
#include <string>

namespace basalith {

// The foundation's own error: a state or configuration the model manager cannot work with.
class BasalithError : public std::runtime_error {
  public:
    enum class Code { invalidConfiguration };

    static BasalithError invalidConfiguration(const std::string& message) {
        return BasalithError(Code::invalidConfiguration, message);
    }

    Code code() const { return code_; }
    // The carried text, unchanged.
    std::string localizedDescription() const { return what(); }

  private:
    BasalithError(Code code, const std::string& message) : std::runtime_error(message), code_(code) {}

    Code code_;
};

} // namespace basalith
