#include "engine/speech/transcription/StreamTranscribeTask.h"

#include "engine/speech/decoding/TextUtilities.h"

namespace vocalith {

float StreamTranscribeTask::compressionRatio(const std::vector<std::int64_t>& tokens) const {
    return TextUtilities::compressionRatio(tokens);
}

} // namespace vocalith
