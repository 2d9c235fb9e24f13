#pragma once

#include <stdexcept>
#include <string>

namespace vocalith {

// The one error of the speech engine: which step failed and a message saying what went wrong.
// Errors of the platform (files, models, the hub client) pass through unchanged.
class WhisperError : public std::runtime_error {
  public:
    // The order is the order of the internal case numbers 0...11.
    enum class Case {
        tokenizerUnavailable,
        modelsUnavailable,
        prefillFailed,
        audioProcessingFailed,
        decodingLogitsFailed,
        segmentingFailed,
        loadAudioFailed,
        prepareDecoderInputsFailed,
        transcriptionFailed,
        decodingFailed,
        microphoneUnavailable,
        initializationError,
    };

    WhisperError(Case errorCase, std::string message);

    static WhisperError tokenizerUnavailable(std::string message = "Tokenizer is unavailable");
    static WhisperError modelsUnavailable(std::string message = "Models are unavailable");
    static WhisperError prefillFailed(std::string message);
    static WhisperError audioProcessingFailed(std::string message);
    static WhisperError decodingLogitsFailed(std::string message);
    static WhisperError segmentingFailed(std::string message);
    static WhisperError loadAudioFailed(std::string message);
    static WhisperError prepareDecoderInputsFailed(std::string message);
    static WhisperError transcriptionFailed(std::string message);
    static WhisperError decodingFailed(std::string message);
    static WhisperError microphoneUnavailable(std::string message);
    static WhisperError initializationError(std::string message);

    Case errorCase() const { return case_; }
    // The message, without logging (what() returns the same text).
    const std::string& message() const { return message_; }

    // The message; every read also writes it as one error line to the shared logger, so an error
    // shown to the user is also in the log.
    std::string errorDescription() const;

    // Same case and same message.
    bool operator==(const WhisperError& other) const {
        return case_ == other.case_ && message_ == other.message_;
    }

  private:
    Case case_;
    std::string message_;
};

} // namespace vocalith
