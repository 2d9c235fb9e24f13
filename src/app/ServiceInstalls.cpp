#include "app/ServiceInstalls.h"

namespace velnote {

void installServices(ServiceInstallContext& context) {
    // One line per subsystem that provides a service, in any order (none depends on another here):
    //   installSummaryServices();                      // the summary step of processing
    //   installSpeechServices(context.recording);      // transcription back-ends, live transcription
    //   context.windows.preferences = makePreferencesWindow();
    (void)context;
}

} // namespace velnote
