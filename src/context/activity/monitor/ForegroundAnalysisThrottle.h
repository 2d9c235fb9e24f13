#pragma once

#include "platform/concurrency/Clock.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace velnote {

// What the foreground monitor lets through: an observation is logged unless the same application
// and title were logged less than 10 s ago; a heavy analysis (screenshot, OCR, model) is granted
// only when none is running, none was granted in the last second, and the window signature had
// none in the last 15 s. Thread-safe: the monitor's analysis tasks ask it from worker threads.
class ForegroundAnalysisThrottle {
  public:
    using Time = platform::Clock::SteadyTime;

    static constexpr auto kLogCooldown = std::chrono::seconds(10);
    static constexpr auto kAnalysisConcurrentGuard = std::chrono::seconds(1);
    static constexpr auto kSameWindowCooldown = std::chrono::seconds(15);

    // Records the observation when it passes.
    bool shouldLog(const std::string& bundleID, const std::optional<std::string>& windowTitle, Time now);
    // Records the grant when it passes and marks an analysis in flight until
    // setHeavyAnalysisInFlight(false); a refusal only prunes old signatures.
    bool shouldRunHeavyAnalysis(const std::string& bundleID, const std::optional<std::string>& windowTitle,
                                Time now);
    void setHeavyAnalysisInFlight(bool inFlight);
    bool isHeavyAnalysisInFlight() const;
    std::size_t rememberedSignatures() const;

  private:
    mutable std::mutex mutex_;
    // Under mutex_:
    std::optional<std::string> lastBundleIdentifier_;
    std::optional<std::string> lastWindowTitle_; // as read, absent included
    std::optional<Time> lastLoggedForegroundAppAt_;
    std::optional<Time> lastGlobalHeavyAnalysisAt_;
    std::map<std::string, Time> lastHeavyAnalysisAtBySignature_;
    bool isHeavyAnalysisInFlight_ = false;
};

} // namespace velnote
