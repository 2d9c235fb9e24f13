#pragma once

#include <stdexcept>
#include <string>

namespace velnote::platform::ml {

// Why a checkpoint could not be turned into a model folder. Every failure of the readers and
// the converter is one of these, with a message naming the file and the fault; none aborts.
class ConversionError : public std::runtime_error {
  public:
    enum class Code {
        unreadableSource,  // a file is missing or cannot be opened
        malformedFile,     // a file's bytes or JSON break its format (truncated, lying offsets, ...)
        incompleteWeights, // a tensor the network needs is absent, misshapen or beyond its stored type
        unsupported,       // a well-formed file this converter does not handle (element type, ...)
        writeFailed,       // the destination could not be written
    };

    ConversionError(Code code, const std::string& message) : std::runtime_error(message), code_(code) {}

    Code code() const { return code_; }

  private:
    Code code_;
};

} // namespace velnote::platform::ml
