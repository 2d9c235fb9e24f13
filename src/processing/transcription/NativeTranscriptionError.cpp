#include "processing/transcription/NativeTranscriptionError.h"

#include "session/l10n/L10n.h"

#include <string>

namespace velnote {
namespace {

std::string describe(NativeTranscriptionError::Kind kind) {
    if (kind == NativeTranscriptionError::Kind::noAudioChunks)
        return L10n::localized("L10n.NativeTranscriptionError.noAudioChunks",
                               "No recording chunks were found.");
    return L10n::localized("L10n.NativeTranscriptionError.emptyTranscript",
                           "Audio was recorded, but the transcript is empty.");
}

} // namespace

NativeTranscriptionError::NativeTranscriptionError(Kind kind)
    : std::runtime_error(describe(kind)), kind_(kind) {}

} // namespace velnote
