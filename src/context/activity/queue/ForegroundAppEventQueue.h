#pragma once

#include "context/activity/engine/ActivityEngine.h"
#include "context/activity/inference/ScreenInference.h"
#include "platform/image/RgbImage.h"

#include <cstdint>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace velnote {

// "<bundle identifier in lower case>|<window title trimmed, in lower case>"; an absent title
// counts as empty. The key of the heavy-analysis throttle and of the queue's caches.
std::string windowSignature(const std::string& bundleID, const std::optional<std::string>& windowTitle);

// The second half of foreground tracking: turns each observation the monitor logs into a line of
// "foreground_app_log.jsonl" and an event of the session's ActivityEngine, which it owns. With a
// screenshot it reads the screen's text and asks the screen inference, or reuses the window's last
// inference when its text has hardly changed; without one it reuses or substitutes an inference.
// Per window it keeps the last regions (50 windows), inference (200) and thumbnail (10).
//
// Threads: enqueue() runs the analysis on the caller's thread (the monitor's analysis task) and
// holds the queue's lock only to read and write the caches and to append a line, so a second
// observation is handled while the first waits for the OCR or the model. Lines are appended in
// the order the analyses end. The caller's stop cuts the OCR or the model short; the observation
// is still logged and forwarded.
class ForegroundAppEventQueue {
  public:
    struct EnqueueRequest {
        std::string appName{};
        std::string bundleID{}; // "unknown" when the application has none
        std::int64_t pid = 0;
        std::optional<std::string> windowTitle{};
        std::string timestamp{}; // ISO 8601 in UTC without fractional seconds
        std::optional<platform::RgbImage> screenshot{};
        std::optional<std::string> captureError{}; // a capture's reason code or "analysis_throttled"
    };

    struct Dependencies {
        std::shared_ptr<const ScreenInference> inference;
        ActivityEngine::Dependencies engine{};
    };

    static constexpr std::size_t maxInferenceCacheSize = 200;
    static constexpr std::size_t maxRegionCacheSize = 50;
    static constexpr std::size_t maxScreenshotCacheSize = 10;
    static constexpr int kThumbnailSide = 512;
    static constexpr double kReuseSimilarity = 0.92;

    ForegroundAppEventQueue(std::filesystem::path logURL, std::filesystem::path activityStateURL,
                            std::filesystem::path activityHistoryURL, Dependencies dependencies);

    // Analyses, logs and forwards one observation; returns once the engine has taken it. Never fails.
    void enqueue(const EnqueueRequest& request, std::stop_token stop = {});
    // The engine's final flush: every open activity finished, the last snapshot written.
    std::future<void> flushActivities();

    const std::shared_ptr<ActivityEngine>& activityEngine() const { return engine_; }

  private:
    template <class T> struct BoundedCache {
        std::size_t limit = 0;
        std::map<std::string, T> values{};
        std::vector<std::string> order{}; // signatures in first-insertion order

        const T* find(const std::string& key) const;
        void insert(const std::string& key, T value);
    };

    platform::Json analyse(const EnqueueRequest& request, const std::string& signature, std::stop_token stop);
    platform::Json analyseWithoutScreenshot(const EnqueueRequest& request, const std::string& signature);
    void append(const platform::Json& event);

    const std::filesystem::path logURL_;
    const std::shared_ptr<const ScreenInference> inference_;
    const std::shared_ptr<ActivityEngine> engine_;

    std::mutex mutex_;
    // Under mutex_:
    BoundedCache<VisionInference> inferences_{maxInferenceCacheSize};
    BoundedCache<std::vector<StructuredTextRegion>> regions_{maxRegionCacheSize};
    BoundedCache<platform::RgbImage> thumbnails_{maxScreenshotCacheSize};
};

} // namespace velnote
