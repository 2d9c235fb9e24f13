#pragma once

#include <stdexcept>
#include <string>

namespace vocalith {

// Why a tokenizer could not be read or built. The loader treats every local one as "use the hub
// instead"; from the hub it reaches the caller.
class TokenizerError : public std::runtime_error {
  public:
    enum class Code {
        missingFile,     // "tokenizer.json" (or the configuration, where one is required) is not there
        unreadableFile,  // the file cannot be read, or is larger than a tokenizer can be
        malformedFile,   // not JSON, nested too deep, NUL bytes, numbers out of range, wrong types
        unsupported,     // a tokenizer kind, normalizer or option this reader does not implement
        invalidContents, // ids out of range or shared, merges of tokens the vocabulary lacks, limits exceeded
    };

    TokenizerError(Code code, const std::string& message) : std::runtime_error(message), code_(code) {}
    Code code() const { return code_; }

  private:
    Code code_;
};

} // namespace vocalith
