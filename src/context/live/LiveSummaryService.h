#pragma once

#include "context/screen/ScreenCaptureMonitoring.h"
#include "session/config/SessionConfig.h"
#include "session/config/SummaryProvider.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <string>

namespace velnote {

// The periodic live summary of a running recording, fed by the live transcript and the screen
// monitor's OCR lines. A serialised service (an actor): each operation posts to its own executor
// and returns a future that is ready when it has run; none fails.
class LiveSummaryService {
  public:
    virtual ~LiveSummaryService() = default;

    // Starts the periodic live summary of the recording in `sessionDir`; `screenMonitor` may be
    // null (screen capture off).
    virtual std::future<void> startSession(const std::filesystem::path& sessionDir,
                                           std::shared_ptr<ScreenCaptureMonitoring> screenMonitor,
                                           const SessionConfig& config,
                                           std::chrono::system_clock::time_point startedAt) = 0;
    // Stops the loop and forgets the session.
    virtual std::future<void> stopSession() = 0;
    // The monitor whose OCR lines feed the summary from now on; null for none.
    virtual std::future<void> setScreenMonitor(std::shared_ptr<ScreenCaptureMonitoring> screenMonitor) = 0;
    // The switch and the interval (brought into 1...60 by the service); while a session runs, the
    // periodic refresh restarts, so the next one is timed from now.
    virtual std::future<void> updateSchedule(bool enabled, std::int64_t intervalMinutes) = 0;
    // The provider settings of the running session, used from the next refresh on (no restart). A
    // prompt blank after trimming means the built-in live-summary prompt; an empty model or
    // endpoint text means none.
    virtual std::future<void> updateProviderSettings(SummaryProvider provider, std::string prompt,
                                                     std::optional<std::string> providerModel,
                                                     std::optional<std::string> providerBaseURL) = 0;
    // The output language (a language code) of the running session, from the next refresh on.
    virtual std::future<void> setOutputLanguage(std::string outputLanguage) = 0;
};

} // namespace velnote
