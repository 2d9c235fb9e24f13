#pragma once

#include "context/ocr/VisionOCRService.h"
#include "context/screen/OCRContextLog.h"
#include "context/screen/ScreenCaptureMonitoring.h"
#include "context/screen/ScreenChange.h"
#include "context/screen/ScreenGrabber.h"
#include "platform/concurrency/Clock.h"
#include "platform/concurrency/SerialExecutor.h"
#include "platform/concurrency/Task.h"
#include "platform/power/ThermalState.h"
#include "session/config/SessionConfig.h"

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace velnote {

// What a monitor works with besides its settings.
struct ScreenCaptureMonitorDependencies {
    std::shared_ptr<ScreenGrabber> grabber;
    std::shared_ptr<VisionOCRServiceProtocol> ocrService;
    std::shared_ptr<platform::Clock> clock; // null: the system clock
    // The machine's thermal state, read before every wait; empty: always nominal.
    std::function<platform::ThermalState()> thermalState;
    // The running recording's configuration as the application state holds it (on the main
    // thread); empty: none, so the session folder's "session.json" decides.
    std::function<std::optional<SessionConfig>()> activeSessionConfig;
    // A number from 0 to 9999 for a manual screenshot's name; empty: a random one.
    std::function<int()> randomSuffix;
    // Writes a screenshot's JPEG (on the pool); empty: DefaultScreenCaptureMonitor::saveJPEG.
    std::function<bool(const platform::RgbImage&, const std::filesystem::path&)> writeJPEG;
};

// The screenshot and OCR monitor of one recording (see ScreenCaptureMonitoring).
//
// While started, a loop thread waits (2 s normally, 4 s while the screen shows video, doubled up
// to 8 times while it stays still and again up to twice when the machine runs hot), takes a
// screenshot, and compares a 128 × 72 grey thumbnail with the previous capture's. A change of 15
// or more, at least 3 s (20 s in video mode) after the last saved shot, saves the screenshot as
// "screencaptures/<nnnn>_<UTC time>.jpg" and starts an OCR pass over the saved shots not yet
// read. Each read shot becomes one line of "ocr_context.jsonl" unless its text repeats one of the
// last three (texts fixed on screen are left out first); lines are written five at a time, and
// all at stop() and when the monitor is released. The numbers are those of the settings' defaults;
// the settings tune them. Lines whose write fails are written with the next batch.
//
// Threads: the state belongs to one serial executor (the actor). The loop runs on a thread of its
// own, OCR passes on the shared pool, stop() and manual screenshots on a worker, the context
// reader on another; they reach the state only through the executor. Lines are written on the
// serial queue "velnote.ocrWrite". JPEGs are encoded on the pool; an OCR pass waits for its
// shot's file before it reads it back.
class DefaultScreenCaptureMonitor final : public ScreenCaptureMonitoring {
  public:
    DefaultScreenCaptureMonitor(ScreenCaptureMonitorSettings settings,
                                ScreenCaptureMonitorDependencies dependencies);
    // Ends the loop, waits for the running OCR pass and writes the lines not yet written.
    ~DefaultScreenCaptureMonitor() override;

    std::future<void> start() override;
    std::future<void> stop() override;
    std::future<void> updateDisplayID(std::uint32_t displayID) override;
    std::future<void> updateCaptureRegion(std::optional<ScreenRect> region) override;
    std::future<std::string> ocrContextJsonl(double sinceElapsedSeconds) override;
    std::future<std::optional<std::filesystem::path>> captureManualScreenshotOCR() override;

    // One capture as the loop takes it, whether started or not; ready when the screenshot is
    // judged (its OCR pass may still run). For tests and diagnostics.
    std::future<void> captureOnce();
    // Seconds the loop would wait before its next capture now.
    std::future<double> nextWait();
    // Waits until no OCR pass started by a capture is running.
    std::future<void> waitForOCR();

    // The JPEG at quality 0.75, written atomically; false on failure (logged).
    static bool saveJPEG(const platform::RgbImage& image, const std::filesystem::path& path);

  private:
    struct CaptureRecord {
        std::chrono::system_clock::time_point timestamp;
        std::filesystem::path path;
        std::shared_future<bool> written; // the JPEG's write
    };
    enum class FlushMode { queue, wait };

    void runLoop(const std::stop_token& stop);
    void captureAndProcess();
    double waitSeconds() const;
    void processCapture(platform::RgbImage image, std::vector<std::uint8_t> thumbnail);
    void saveShot(platform::RgbImage image, std::chrono::system_clock::time_point now, double score);
    void processPendingOCR(const std::stop_token& stop);
    std::vector<std::string> configuredOCRRecognitionLanguages();
    void appendOCRResult(const CaptureRecord& item, std::vector<OCRResult> results);
    bool isSimilarToRecentOCR(const std::string& text, std::size_t windowSize) const;
    void appendOCRRecordToJsonl(const OCRRecord& record, bool isManual);
    void flushOCREntries(FlushMode mode);
    void enforceCaptureRetentionLimits();
    void finishPass();
    std::optional<std::filesystem::path> manualScreenshot();
    std::filesystem::path capturesFolder() const;
    platform::Clock& clock() const;
    std::function<bool(const platform::RgbImage&, const std::filesystem::path&)> jpegWriter() const;

    const ScreenCaptureMonitorSettings settings_;
    const ScreenCaptureMonitorDependencies deps_;
    const std::filesystem::path ocrContextFile_;

    // Only on executor_:
    std::uint32_t displayID_;
    std::optional<ScreenRect> captureRegion_;
    bool isRunning_ = false;
    std::jthread loopThread_;                 // the running loop
    std::vector<std::jthread> retiredLoops_;  // loops told to end, joined when the monitor goes
    platform::Task<void> ocrTask_;            // the last OCR pass a capture started
    std::vector<std::uint8_t> lastThumbnail_; // of the previous capture
    std::optional<platform::Clock::SteadyTime> lastSaveTime_; // of the last periodic shot
    VideoModeDetector video_;
    std::int64_t captureIndex_ = 0;                 // periodic shots saved; their running number
    std::int64_t noChangeCount_ = 0;                // still captures in a row, up to 50
    std::deque<CaptureRecord> capturedScreenshots_; // at most 120, oldest first
    std::deque<OCRRecord> ocrRecords_;              // at most 40, oldest first
    std::set<std::string> processedOCRPaths_;       // read, skipped or given up
    std::set<std::string> inProgressOCRPaths_;      // taken by a running pass
    bool isProcessingOCR_ = false;
    std::optional<platform::RgbImage> lastProcessedOCRThumbnail_; // 512 × 512, of the last shot read
    RecentOCRTexts recentTexts_;
    std::vector<std::string> pendingOCREntries_; // lines not yet written
    std::shared_ptr<OCRBatchWriter> ocrWriter_;  // only on writeQueue_ (and once it has drained)

    // Declared last, destroyed first, in the destructor's order (see there).
    std::unique_ptr<platform::SerialExecutor> writeQueue_; // "velnote.ocrWrite"
    std::unique_ptr<platform::SerialExecutor> executor_;
    std::unique_ptr<platform::SerialExecutor> reader_; // ocrContextJsonl
    std::unique_ptr<platform::SerialExecutor> worker_; // stop() and manual screenshots
};

} // namespace velnote
