#pragma once

#include "app/state/ScreenRect.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <string>

namespace velnote {

// The screenshot and OCR monitor of one recording: while started it takes a screenshot of one
// display when the screen changes and reads its text into "ocr_context.jsonl". A serialised
// service (an actor): each operation posts to its own executor and returns a future that is
// ready when it has run. The recording controller and the live summary hold it through this
// interface.
class ScreenCaptureMonitoring {
  public:
    virtual ~ScreenCaptureMonitoring() = default;

    // Creates the session's screenshot folder and starts the capture loop.
    virtual std::future<void> start() = 0;
    // Stops the loop, finishes pending text recognition and flushes the OCR lines.
    virtual std::future<void> stop() = 0;
    // Captures that display (a display identifier of DisplayDirectory) from then on.
    virtual std::future<void> updateDisplayID(std::uint32_t displayID) = 0;
    // Limits the screenshots to `region` (none: the whole display) from the next one on.
    virtual std::future<void> updateCaptureRegion(std::optional<ScreenRect> region) = 0;
    // The lines of "ocr_context.jsonl" whose "timestamp" (minutes:seconds since the recording
    // started) is `sinceElapsedSeconds` or later, after the screenshots already saved have been
    // read; unchanged and in file order, joined by line feeds (no final one). Lines whose time
    // cannot be read are kept only for a limit of 0 or less. Empty when there is no file yet.
    virtual std::future<std::string> ocrContextJsonl(double sinceElapsedSeconds) = 0;
    // Takes one screenshot at once, recognises its text and saves the result in the session
    // folder; the saved file, or none when the capture or the saving failed.
    virtual std::future<std::optional<std::filesystem::path>> captureManualScreenshotOCR() = 0;
};

// Everything a new monitor starts with. The numbers below the timings tune the change and video
// detection, the OCR text filters and the log's batches; the recording controller leaves them at
// these values. A monitor given a value out of range uses the value here instead (logged).
struct ScreenCaptureMonitorSettings {
    std::filesystem::path sessionDir;
    std::chrono::system_clock::time_point sessionStartedAt{};
    std::uint32_t displayID = 0;
    // Seconds between polls, and the shortest time between two saved screenshots, in the normal
    // and the video mode.
    double pollNormal = 2;
    double pollVideo = 4;
    double saveMinNormal = 3;
    double saveMinVideo = 20;
    double diffThreshold = 15.0;
    double edgeIgnoreRatio = 0.14;
    double videoMotionRatio = 0.75;
    double videoAvgScoreThreshold = 10.0;
    int videoWindowSize = 12;
    int thumbW = 128; // thumbnail used for the change detection, pixels
    int thumbH = 72;
    int maxCapturedScreenshots = 120;
    int maxOCRRecords = 40;
    int fixedTextWindow = 8;
    int fixedTextThreshold = 3;
    int noChangeBackoffThreshold = 5;
    int ocrWriteBatchSize = 5; // OCR lines written to "ocr_context.jsonl" at a time

    bool operator==(const ScreenCaptureMonitorSettings&) const = default;
};

// Builds monitors, not yet started, without a capture region. The screen-capture service installs
// the real one.
class ScreenCaptureMonitorFactory {
  public:
    virtual ~ScreenCaptureMonitorFactory() = default;
    virtual std::shared_ptr<ScreenCaptureMonitoring>
    makeMonitor(const ScreenCaptureMonitorSettings& settings) = 0;
};

} // namespace velnote
