#pragma once

#include <stdexcept>
#include <string>

namespace basalith {

// The one error the model downloader raises itself: a model it cannot provide.
class ModelDownloaderError : public std::runtime_error {
  public:
    enum class Code { modelUnavailable };

    static ModelDownloaderError modelUnavailable(const std::string& message) {
        return ModelDownloaderError(Code::modelUnavailable, message);
    }

    Code code() const { return code_; }
    // The carried text, complete.
    std::string errorDescription() const { return what(); }

  private:
    ModelDownloaderError(Code code, const std::string& message) : std::runtime_error(message), code_(code) {}
    Code code_;
};

} // namespace basalith
