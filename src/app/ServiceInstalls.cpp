#include "app/ServiceInstalls.h"

#include "speech/SpeechBackends.h"
#include "speech/live/RealtimeTranscriptionActor.h"
#include "summary/service/LocalSummarizationService.h"

namespace velnote {

void installServices(ServiceInstallContext& context) {
    // One line per subsystem that provides a service, in any order (none depends on another here).
    // Still to come: the other live services of a recording (into context.recording) and the
    // windows (into context.windows).
    installSpeechBackends();        // transcription back-ends of the session pipeline
    installSessionSummaryService(); // the summary step of the session pipeline
    context.recording.liveTranscription = RealtimeTranscriptionActor::sharedService(); // the live transcript
}

} // namespace velnote
