#include "context/activity/queue/ForegroundAppEventQueue.h"

#include "context/activity/ActivityJson.h"
#include "context/activity/window/WindowImages.h"
#include "platform/error/DomainError.h"
#include "platform/fs/Files.h"
#include "platform/text/CaseMapping.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"

#include <sys/stat.h>

namespace velnote {

using platform::Json;

std::string windowSignature(const std::string& bundleID, const std::optional<std::string>& windowTitle) {
    return platform::lowercased(bundleID) + "|" +
           platform::lowercased(platform::trimWhitespace(windowTitle.value_or("")));
}

template <class T> const T* ForegroundAppEventQueue::BoundedCache<T>::find(const std::string& key) const {
    const auto found = values.find(key);
    return found == values.end() ? nullptr : &found->second;
}

// The order is that of first insertion: replacing a value keeps its place, and at most one entry
// leaves per insertion.
template <class T> void ForegroundAppEventQueue::BoundedCache<T>::insert(const std::string& key, T value) {
    if (!values.contains(key)) {
        order.push_back(key);
    }
    values[key] = std::move(value);
    if (order.size() > limit) {
        values.erase(order.front());
        order.erase(order.begin());
    }
}

ForegroundAppEventQueue::ForegroundAppEventQueue(std::filesystem::path logURL,
                                                 std::filesystem::path activityStateURL,
                                                 std::filesystem::path activityHistoryURL,
                                                 Dependencies dependencies)
    : logURL_(std::move(logURL)), inference_(std::move(dependencies.inference)),
      engine_(ActivityEngine::make(std::move(activityStateURL), std::move(activityHistoryURL),
                                   std::move(dependencies.engine))) {}

void ForegroundAppEventQueue::enqueue(const EnqueueRequest& request, std::stop_token stop) {
    const std::string signature = windowSignature(request.bundleID, request.windowTitle);
    Json event = request.screenshot ? analyse(request, signature, std::move(stop))
                                    : analyseWithoutScreenshot(request, signature);
    event["timestamp"] = request.timestamp;
    event["app_name"] = request.appName;
    event["bundle_id"] = request.bundleID;
    event["pid"] = request.pid;
    platform::setIfPresent(event, "window_title", request.windowTitle);
    platform::setIfPresent(event, "capture_error", request.captureError);
    append(event);

    const Json& inference = event["vision_inference"];
    engine_
        ->process({.timestamp = request.timestamp,
                   .appName = request.appName,
                   .bundleID = request.bundleID,
                   .windowTitle = request.windowTitle,
                   .screenType = inference["screen_type"].get<std::string>(),
                   .service = inference["service"].get<std::string>(),
                   .description = inference["description"].get<std::string>(),
                   .confidence = inference["confidence"].get<double>()})
        .get();
}

Json ForegroundAppEventQueue::analyse(const EnqueueRequest& request, const std::string& signature,
                                      std::stop_token stop) {
    std::optional<std::vector<StructuredTextRegion>> cachedRegions;
    std::optional<VisionInference> cachedInference;
    std::optional<platform::RgbImage> previousThumbnail;
    {
        std::lock_guard lock(mutex_);
        if (const auto* found = regions_.find(signature)) {
            cachedRegions = *found;
        }
        if (const auto* found = inferences_.find(signature)) {
            cachedInference = *found;
        }
        if (const auto* found = thumbnails_.find(signature)) {
            previousThumbnail = *found;
        }
    }
    const auto thumbnail = resizedThumbnail(*request.screenshot, kThumbnailSide, kThumbnailSide);

    ScreenshotInferenceResult result;
    try {
        auto [regions, salient] =
            inference_->fetchVisionOCR(*request.screenshot, thumbnail ? &*thumbnail : nullptr,
                                       previousThumbnail ? &*previousThumbnail : nullptr, stop);
        std::optional<double> similarity;
        if (cachedRegions && cachedInference) {
            similarity = regionSimilarityBetween(regions, *cachedRegions);
        }
        if (similarity && *similarity >= kReuseSimilarity) {
            result = {.inference = *cachedInference,
                      .regions = std::move(regions),
                      .saliencyRegionCount = salient,
                      .usedCachedInference = true,
                      .regionSimilarity = similarity};
        } else {
            result = inference_->fetchVisionLLMInference(request.windowTitle, regions, salient, stop);
        }
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("Foreground OCR stage timed out or failed: {}", e.what());
        result = {.inference = {.service = "unknown",
                                .screenType = "unknown",
                                .confidence = 0,
                                .description = "OCR timed out"}};
    }
    {
        std::lock_guard lock(mutex_);
        regions_.insert(signature, result.regions);
        if (thumbnail) {
            thumbnails_.insert(signature, *thumbnail);
        }
        if (!result.usedCachedInference) {
            inferences_.insert(signature, result.inference);
        }
    }
    Json event = Json::object();
    event["inference_skipped"] = result.usedCachedInference;
    platform::setIfPresent(event, "region_similarity", result.regionSimilarity);
    event["saliency_region_count"] = result.saliencyRegionCount;
    event["ocr_regions"] = result.regions;
    event["vision_inference"] = result.inference;
    return event;
}

Json ForegroundAppEventQueue::analyseWithoutScreenshot(const EnqueueRequest& request,
                                                       const std::string& signature) {
    Json event = Json::object();
    std::lock_guard lock(mutex_);
    const auto* cached = inferences_.find(signature);
    if (request.captureError == "analysis_throttled" && cached) {
        event["vision_inference"] = *cached;
        event["inference_skipped"] = true;
    } else {
        event["vision_inference"] = VisionInference{.service = "unknown",
                                                    .screenType = "unknown",
                                                    .confidence = 0,
                                                    .description = "Screenshot unavailable"};
    }
    return event;
}

void ForegroundAppEventQueue::append(const Json& event) {
    std::lock_guard lock(mutex_);
    try {
        // The log is created afresh when it went missing, but never with the session folder.
        if (!std::filesystem::exists(logURL_.parent_path())) {
            throw platform::DomainError("ForegroundAppSessionMonitor", 1,
                                        "Unable to create log file at " + logURL_.string() + ".");
        }
        platform::appendLines(logURL_, encodeActivityJson(event) + "\n");
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("ForegroundAppEventQueue: Failed to write foreground app log: {}",
                                   e.what());
    }
}

std::future<void> ForegroundAppEventQueue::flushActivities() {
    return engine_->flush(true);
}

} // namespace velnote
