#pragma once

#include "processing/transcription/SessionTranscriptionPipeline.h"
#include "speech/local/SpeechServices.h"

#include <memory>

namespace velnote {

// The builders of the two speech back-ends: the on-device one over `transcription` and
// `labelling`, the remote one over an OpenAI-compatible service.
SessionTranscriptionPipeline::Backends
speechBackends(std::shared_ptr<TranscriptionServiceProtocol> transcription,
               std::shared_ptr<SpeakerDiarizationServiceProtocol> labelling);

// Installs them, over the process's shared services, into SessionTranscriptionPipeline::shared().
void installSpeechBackends();

} // namespace velnote
