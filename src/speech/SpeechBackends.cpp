#include "speech/SpeechBackends.h"

#include "speech/local/LocalSpeechPipeline.h"
#include "speech/ondevice/WhisperTranscriptionService.h"
#include "speech/remote/OpenAISpeechPipeline.h"
#include "speech/speakers/LocalSpeakerDiarizationService.h"

namespace velnote {
namespace {

std::shared_ptr<SpeechProcessingPipeline> remoteBackend(const std::string& baseURL,
                                                        const std::string& apiKey) {
    return std::make_shared<OpenAISpeechPipeline>(baseURL, apiKey);
}

} // namespace

SessionTranscriptionPipeline::Backends
speechBackends(std::shared_ptr<TranscriptionServiceProtocol> transcription,
               std::shared_ptr<SpeakerDiarizationServiceProtocol> labelling) {
    return {.local = [transcription,
                      labelling] { return std::make_shared<LocalSpeechPipeline>(transcription, labelling); },
            .remote = remoteBackend};
}

void installSpeechBackends() {
    // The services are made at the first run, not at start-up: the user's cache folder is looked
    // up then.
    SessionTranscriptionPipeline::install({.local =
                                               [] {
                                                   return std::make_shared<LocalSpeechPipeline>(
                                                       WhisperTranscriptionService::shared(),
                                                       LocalSpeakerDiarizationService::shared());
                                               },
                                           .remote = remoteBackend});
}

} // namespace velnote
