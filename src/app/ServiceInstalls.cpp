#include "app/ServiceInstalls.h"

#include "context/activity/inference/OCRServiceTextRegions.h"
#include "context/activity/monitor/DefaultForegroundAppSessionMonitor.h"
#include "context/live/summary/LiveSummaryActor.h"
#include "context/screen/ScreenCaptureService.h"
#include "platform/notifications/FileManagerReveal.h"
#include "processing/queue/ProcessingQueue.h"
#include "speech/SpeechBackends.h"
#include "speech/live/LiveSummaryTranscriptSink.h"
#include "speech/live/RealtimeTranscriptionActor.h"
#include "summary/service/LocalSummarizationService.h"
#include "ui/models/AuxiliaryWindows.h"
#include "ui/monitor/RetryProviderSelectionWindowController.h"
#include "ui/monitor/SessionMonitorWindowController.h"
#include "ui/picker/QtRegionPicker.h"
#include "ui/preview/SummaryPreviewWindowController.h"
#include "ui/settings/SettingsWindows.h"

namespace velnote {
namespace {

// The settings windows reach the live services through the slots other installers fill, read
// when a window needs them.
SettingsWindowServices settingsWindowServices(RecordingServices& recording) {
    return {.enumerateDisplays =
                [&recording] {
                    return recording.displays ? recording.displays->enumerate()
                                              : std::vector<AvailableDisplay>{};
                },
            .updateInputLanguage =
                [](std::optional<std::string> language) {
                    (void)RealtimeTranscriptionActor::shared().updateInputLanguage(std::move(language));
                },
            .updateLiveSummaryOutputLanguage =
                [](const std::string& language) {
                    (void)LiveSummaryActor::shared()->setOutputLanguage(language);
                },
            .updateLiveSummaryProvider =
                [](const LiveSummaryProviderUpdate& update) {
                    (void)LiveSummaryActor::shared()->updateProviderSettings(
                        update.provider, update.prompt, update.providerModel, update.providerBaseURL);
                }};
}

// Hands the live transcription's committed lines to the live summary.
class LiveSummaryTranscriptForwarder final : public LiveSummaryTranscriptSink {
  public:
    explicit LiveSummaryTranscriptForwarder(std::shared_ptr<LiveSummaryActor> liveSummary)
        : liveSummary_(std::move(liveSummary)) {}

    void setLatestTranscript(std::string transcript) override {
        (void)liveSummary_->setLatestTranscript(std::move(transcript));
    }

  private:
    std::shared_ptr<LiveSummaryActor> liveSummary_;
};

} // namespace

namespace {

void installSessionMonitor(ServiceInstallContext& context) {
    ShellWindows& windows = context.windows;
    context.windows.sessionMonitor =
        std::make_shared<SessionMonitorWindowController>(SessionMonitorModel::Dependencies{
            .services =
                std::make_shared<QueueSessionMonitorServices>(ProcessingQueue::shared(), context.sessionList),
            .openRetryDialog = &RetryProviderSelectionWindowController::open,
            // Looked up at each click: the preview's own installer may replace the slot.
            .showSummary =
                [&windows](const SessionStatusSnapshot& session, const SummaryVersion& version) {
                    windows.summaryPreview->show(session, version);
                },
            .revealFolder =
                [](const std::filesystem::path& folder) {
                    platform::FileManagerReveal::openWithDefaultApplication(folder);
                },
        });
}

} // namespace

void installServices(ServiceInstallContext& context) {
    // One line per subsystem that provides a service, in any order (none depends on another here).
    // Still to come: the other live services of a recording (into context.recording) and the
    // windows (into context.windows).
    installSpeechBackends();        // transcription back-ends of the session pipeline
    installSessionSummaryService(); // the summary step of the session pipeline
    context.recording.liveTranscription = RealtimeTranscriptionActor::sharedService(); // the live transcript
    context.recording.liveSummary = LiveSummaryActor::shared();                        // the live summary
    (void)RealtimeTranscriptionActor::sharedService()->setLiveSummarySink(
        std::make_shared<LiveSummaryTranscriptForwarder>(LiveSummaryActor::shared()));
    installSettingsWindows(context.windows,
                           settingsWindowServices(context.recording)); // preferences, session settings
    const ScreenCaptureServices screen = ScreenCaptureServices::makeDefault(); // screenshots and their text
    context.recording.screenCapture = screen.monitors;
    context.recording.displays = screen.displays;
    context.recording.regionPicker = std::make_shared<QtRegionPicker>(); // the capture-region overlay
    installSessionMonitor(context);
    installAuxiliaryWindows(context.windows);      // model management, hallucination filter, user dictionary
    installSummaryPreviewWindows(context.windows); // the summary windows
    // Foreground activity tracking, reading window text with the screenshots' OCR service.
    context.recording.foregroundActivity = std::make_shared<DefaultForegroundActivityTracking>(
        std::make_shared<OCRServiceTextRegions>(screen.ocr));
}

} // namespace velnote
