#pragma once

#include <stdexcept>
#include <string>

namespace diarith {

// The diarization engine's own error. Its text is the whole user-visible description.
class DiarithError : public std::runtime_error {
  public:
    enum class Code { modelUnavailable, invalidConfiguration, invalidModelOutput, generic };

    static DiarithError modelUnavailable(const std::string& message) {
        return DiarithError(Code::modelUnavailable, message);
    }
    static DiarithError invalidConfiguration(const std::string& message) {
        return DiarithError(Code::invalidConfiguration, message);
    }
    static DiarithError invalidModelOutput(const std::string& message) {
        return DiarithError(Code::invalidModelOutput, message);
    }
    static DiarithError generic(const std::string& message) { return DiarithError(Code::generic, message); }

    Code code() const { return code_; }
    // The carried text, unchanged.
    std::string localizedDescription() const { return what(); }

  private:
    DiarithError(Code code, const std::string& message) : std::runtime_error(message), code_(code) {}

    Code code_;
};

} // namespace diarith
