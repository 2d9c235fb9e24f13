#pragma once

#include <stdexcept>
#include <string>

namespace velnote::platform::ml {

// What the model runtime reports. Every failure of loading or predicting is one of these; nothing
// in the runtime aborts on a bad file or a bad input.
class ModelError : public std::runtime_error {
  public:
    enum class Code {
        notFound,         // no model file at the location, or several
        invalidModel,     // the file is not a complete, consistent model of a known architecture
        notLoaded,        // a prediction on a model that was unloaded
        invalidInput,     // an input is missing, of another shape or not representable
        predictionFailed, // the computation itself failed (out of memory)
    };

    ModelError(Code code, const std::string& message) : std::runtime_error(message), code_(code) {}
    Code code() const { return code_; }

  private:
    Code code_;
};

} // namespace velnote::platform::ml
