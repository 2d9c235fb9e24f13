#include "context/activity/monitor/ForegroundAnalysisThrottle.h"

#include "context/activity/queue/ForegroundAppEventQueue.h"

namespace velnote {

bool ForegroundAnalysisThrottle::shouldLog(const std::string& bundleID,
                                           const std::optional<std::string>& windowTitle, Time now) {
    std::lock_guard lock(mutex_);
    if (lastBundleIdentifier_ == bundleID && lastWindowTitle_ == windowTitle && lastLoggedForegroundAppAt_ &&
        now - *lastLoggedForegroundAppAt_ < kLogCooldown) {
        return false;
    }
    lastBundleIdentifier_ = bundleID;
    lastWindowTitle_ = windowTitle;
    lastLoggedForegroundAppAt_ = now;
    return true;
}

bool ForegroundAnalysisThrottle::shouldRunHeavyAnalysis(const std::string& bundleID,
                                                        const std::optional<std::string>& windowTitle,
                                                        Time now) {
    const std::string signature = windowSignature(bundleID, windowTitle);
    std::lock_guard lock(mutex_);
    std::erase_if(lastHeavyAnalysisAtBySignature_,
                  [&](const auto& entry) { return !(entry.second > now - kSameWindowCooldown); });
    if (isHeavyAnalysisInFlight_) {
        return false;
    }
    if (lastGlobalHeavyAnalysisAt_ && now - *lastGlobalHeavyAnalysisAt_ < kAnalysisConcurrentGuard) {
        return false;
    }
    if (const auto found = lastHeavyAnalysisAtBySignature_.find(signature);
        found != lastHeavyAnalysisAtBySignature_.end() && now - found->second < kSameWindowCooldown) {
        return false;
    }
    lastGlobalHeavyAnalysisAt_ = now;
    lastHeavyAnalysisAtBySignature_[signature] = now;
    isHeavyAnalysisInFlight_ = true; // with the grant, so no second task slips in between
    return true;
}

void ForegroundAnalysisThrottle::setHeavyAnalysisInFlight(bool inFlight) {
    std::lock_guard lock(mutex_);
    isHeavyAnalysisInFlight_ = inFlight;
}

bool ForegroundAnalysisThrottle::isHeavyAnalysisInFlight() const {
    std::lock_guard lock(mutex_);
    return isHeavyAnalysisInFlight_;
}

std::size_t ForegroundAnalysisThrottle::rememberedSignatures() const {
    std::lock_guard lock(mutex_);
    return lastHeavyAnalysisAtBySignature_.size();
}

} // namespace velnote
