#include "engine/speech/WhisperError.h"

#include "engine/foundation/Logging.h"

#include <utility>

namespace vocalith {

WhisperError::WhisperError(Case errorCase, std::string message)
    : std::runtime_error(message), case_(errorCase), message_(std::move(message)) {}

WhisperError WhisperError::tokenizerUnavailable(std::string message) {
    return {Case::tokenizerUnavailable, std::move(message)};
}
WhisperError WhisperError::modelsUnavailable(std::string message) {
    return {Case::modelsUnavailable, std::move(message)};
}
WhisperError WhisperError::prefillFailed(std::string message) {
    return {Case::prefillFailed, std::move(message)};
}
WhisperError WhisperError::audioProcessingFailed(std::string message) {
    return {Case::audioProcessingFailed, std::move(message)};
}
WhisperError WhisperError::decodingLogitsFailed(std::string message) {
    return {Case::decodingLogitsFailed, std::move(message)};
}
WhisperError WhisperError::segmentingFailed(std::string message) {
    return {Case::segmentingFailed, std::move(message)};
}
WhisperError WhisperError::loadAudioFailed(std::string message) {
    return {Case::loadAudioFailed, std::move(message)};
}
WhisperError WhisperError::prepareDecoderInputsFailed(std::string message) {
    return {Case::prepareDecoderInputsFailed, std::move(message)};
}
WhisperError WhisperError::transcriptionFailed(std::string message) {
    return {Case::transcriptionFailed, std::move(message)};
}
WhisperError WhisperError::decodingFailed(std::string message) {
    return {Case::decodingFailed, std::move(message)};
}
WhisperError WhisperError::microphoneUnavailable(std::string message) {
    return {Case::microphoneUnavailable, std::move(message)};
}
WhisperError WhisperError::initializationError(std::string message) {
    return {Case::initializationError, std::move(message)};
}

std::string WhisperError::errorDescription() const {
    basalith::Logging::error(message_);
    return message_;
}

} // namespace vocalith
