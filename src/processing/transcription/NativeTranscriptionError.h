#pragma once

#include <stdexcept>

namespace velnote {

// The two failures of a transcription run itself. what() is the localized
// description in the interface language.
class NativeTranscriptionError : public std::runtime_error {
  public:
    enum class Kind {
        noAudioChunks,   // the session's "audio" folder yields no track
        emptyTranscript, // no transcript line after the retry with separate tracks
    };

    explicit NativeTranscriptionError(Kind kind);

    Kind kind() const { return kind_; }
    bool operator==(const NativeTranscriptionError& other) const { return kind_ == other.kind_; }

  private:
    Kind kind_;
};

} // namespace velnote
