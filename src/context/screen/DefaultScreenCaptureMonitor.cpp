#include "context/screen/DefaultScreenCaptureMonitor.h"

#include "context/ocr/OCRService.h"
#include "platform/concurrency/StoppableSleep.h"
#include "platform/concurrency/SystemClock.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/fs/Files.h"
#include "platform/image/Jpeg.h"
#include "platform/json/IsoDate.h"
#include "session/VelnoteLogger.h"
#include "session/folder/SessionMetadataStore.h"
#include "session/l10n/L10n.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <random>

namespace velnote {
namespace fs = std::filesystem;
namespace {

constexpr std::int64_t kMaxCharsPerShot = 800;
constexpr int kOCRThumbnailSize = 512;
// A wait longer than a day comes only from absurd settings; it is cut there.
constexpr double kLongestWaitSeconds = 86400;

std::string timeForFileName(std::chrono::system_clock::time_point time) {
    std::string text = platform::formatIsoDate(time);
    std::replace(text.begin(), text.end(), ':', '-');
    return text;
}

std::optional<platform::RgbImage> loadImage(const fs::path& path) {
    const auto bytes = platform::readFileIfPresent(path);
    if (!bytes)
        return std::nullopt;
    try {
        return platform::decodeJpeg(*bytes);
    } catch (const platform::ImageError&) {
        return std::nullopt;
    }
}

int randomSuffix() {
    static std::mutex mutex;
    static std::mt19937 engine{std::random_device{}()};
    std::lock_guard lock(mutex);
    return std::uniform_int_distribution<int>(0, 9999)(engine);
}

template <class T> T await(std::future<T> future) {
    return future.get();
}

// `value` when `valid` holds for it, else `fallback` (logged): tuning that makes no sense must not
// stop a recording, nor divide by zero or allocate without bound.
template <class T, class Valid> void keepValid(T& value, T fallback, const char* name, Valid valid) {
    if (valid(value))
        return;
    VelnoteLogger::app().error("ScreenCaptureMonitor: {} {} is out of range, using {}", name, value,
                               fallback);
    value = fallback;
}

ScreenCaptureMonitorSettings checked(ScreenCaptureMonitorSettings s) {
    const ScreenCaptureMonitorSettings d;
    const auto count = [](int limit) { return [limit](int v) { return v >= 1 && v <= limit; }; };
    const auto finite = [](double v) { return std::isfinite(v) && v >= 0; };
    keepValid(s.diffThreshold, d.diffThreshold, "diffThreshold", finite);
    keepValid(s.edgeIgnoreRatio, d.edgeIgnoreRatio, "edgeIgnoreRatio",
              [](double v) { return v >= 0 && v < 0.5; });
    keepValid(s.videoMotionRatio, d.videoMotionRatio, "videoMotionRatio",
              [](double v) { return v >= 0 && v <= 1; });
    keepValid(s.videoAvgScoreThreshold, d.videoAvgScoreThreshold, "videoAvgScoreThreshold", finite);
    keepValid(s.videoWindowSize, d.videoWindowSize, "videoWindowSize", count(1000));
    keepValid(s.thumbW, d.thumbW, "thumbW", count(1024));
    keepValid(s.thumbH, d.thumbH, "thumbH", count(1024));
    keepValid(s.maxCapturedScreenshots, d.maxCapturedScreenshots, "maxCapturedScreenshots", count(100000));
    keepValid(s.maxOCRRecords, d.maxOCRRecords, "maxOCRRecords", count(100000));
    keepValid(s.fixedTextWindow, d.fixedTextWindow, "fixedTextWindow", count(1000));
    keepValid(s.fixedTextThreshold, d.fixedTextThreshold, "fixedTextThreshold", count(1000));
    keepValid(s.noChangeBackoffThreshold, d.noChangeBackoffThreshold, "noChangeBackoffThreshold",
              count(1000));
    keepValid(s.ocrWriteBatchSize, d.ocrWriteBatchSize, "ocrWriteBatchSize", count(1000));
    return s;
}

} // namespace

DefaultScreenCaptureMonitor::DefaultScreenCaptureMonitor(ScreenCaptureMonitorSettings settings,
                                                         ScreenCaptureMonitorDependencies dependencies)
    : settings_(checked(std::move(settings))), deps_(std::move(dependencies)),
      ocrContextFile_(settings_.sessionDir / OCRContextLog::kFileName), displayID_(settings_.displayID),
      video_(static_cast<std::size_t>(settings_.videoWindowSize), settings_.videoMotionRatio,
             settings_.videoAvgScoreThreshold),
      recentTexts_(static_cast<std::size_t>(settings_.fixedTextWindow),
                   static_cast<std::size_t>(settings_.fixedTextThreshold)),
      ocrWriter_(std::make_shared<OCRBatchWriter>(ocrContextFile_)),
      writeQueue_(std::make_unique<platform::SerialExecutor>()),
      executor_(std::make_unique<platform::SerialExecutor>()),
      reader_(std::make_unique<platform::SerialExecutor>()),
      worker_(std::make_unique<platform::SerialExecutor>()) {}

DefaultScreenCaptureMonitor::~DefaultScreenCaptureMonitor() {
    // Callers may still wait on a stop, a manual screenshot or a read: let them finish first.
    worker_.reset();
    reader_.reset();
    // Then the loops (they reach the executor), then the last OCR pass a capture started.
    auto loops = await(executor_->submit([this] {
        isRunning_ = false;
        if (loopThread_.joinable())
            retiredLoops_.push_back(std::move(loopThread_));
        return std::move(retiredLoops_);
    }));
    for (std::jthread& loop : loops) {
        loop.request_stop();
        loop.join();
    }
    auto pass = await(executor_->submit([this] { return std::exchange(ocrTask_, {}); }));
    if (pass.valid()) {
        pass.cancel();
        pass.wait();
    }
    // Lines still pending are written rather than lost (a monitor made only for one manual
    // screenshot is released without stop()).
    await(executor_->submit([this] { flushOCREntries(FlushMode::wait); }));
    // Screenshots still being encoded on the shared pool are finished while their folder and
    // the process's loggers are sure to be there.
    const auto writes = await(executor_->submit([this] {
        std::vector<std::shared_future<bool>> pending;
        for (const CaptureRecord& record : capturedScreenshots_)
            if (record.written.valid())
                pending.push_back(record.written);
        return pending;
    }));
    for (const std::shared_future<bool>& written : writes)
        written.wait();
    executor_.reset();
    writeQueue_.reset();
    if (const std::size_t lost = ocrWriter_->heldLines(); lost > 0)
        VelnoteLogger::app().error("OCR context: {} lines could not be written to {} and are lost", lost,
                                   ocrContextFile_.string());
}

platform::Clock& DefaultScreenCaptureMonitor::clock() const {
    return deps_.clock ? *deps_.clock : platform::SystemClock::shared();
}

std::function<bool(const platform::RgbImage&, const fs::path&)>
DefaultScreenCaptureMonitor::jpegWriter() const {
    if (deps_.writeJPEG)
        return deps_.writeJPEG;
    return &DefaultScreenCaptureMonitor::saveJPEG;
}

fs::path DefaultScreenCaptureMonitor::capturesFolder() const {
    return settings_.sessionDir / "screencaptures";
}

// ---- Life cycle ----

std::future<void> DefaultScreenCaptureMonitor::start() {
    return executor_->submit([this] {
        if (isRunning_)
            return;
        isRunning_ = true;
        try {
            platform::createDirectories(capturesFolder());
        } catch (const std::exception& e) {
            VelnoteLogger::app().error("failed to create capture directory: {}", e.what());
        }
        if (loopThread_.joinable()) {
            loopThread_.request_stop();
            retiredLoops_.push_back(std::move(loopThread_));
        }
        loopThread_ = std::jthread([this](const std::stop_token& stop) { runLoop(stop); });
        VelnoteLogger::app().info("ScreenCaptureMonitor started displayID={}", displayID_);
    });
}

std::future<void> DefaultScreenCaptureMonitor::stop() {
    return worker_->submit([this] {
        auto pass = await(executor_->submit([this] {
            isRunning_ = false;
            if (loopThread_.joinable()) {
                loopThread_.request_stop(); // a capture under way still finishes
                retiredLoops_.push_back(std::move(loopThread_));
            }
            return std::exchange(ocrTask_, {});
        }));
        if (pass.valid()) {
            pass.cancel();
            pass.wait();
        }
        await(executor_->submit([this] {
            flushOCREntries(FlushMode::wait);
            VelnoteLogger::app().info("ScreenCaptureMonitor stopped captures={}", captureIndex_);
        }));
    });
}

std::future<void> DefaultScreenCaptureMonitor::updateDisplayID(std::uint32_t displayID) {
    return executor_->submit([this, displayID] {
        displayID_ = displayID;
        VelnoteLogger::app().info("ScreenCaptureMonitor displayID updated to {}", displayID);
    });
}

std::future<void> DefaultScreenCaptureMonitor::updateCaptureRegion(std::optional<ScreenRect> region) {
    return executor_->submit([this, region] {
        captureRegion_ = region;
        VelnoteLogger::app().info(
            "ScreenCaptureMonitor captureRegion updated: {}",
            region ? platform::format("({}, {}, {}, {})", region->x, region->y, region->width, region->height)
                   : std::string("nil"));
    });
}

// ---- Capture loop ----

double DefaultScreenCaptureMonitor::waitSeconds() const {
    const double base = video_.isVideoMode() ? settings_.pollVideo : settings_.pollNormal;
    const platform::ThermalState thermal =
        deps_.thermalState ? deps_.thermalState() : platform::ThermalState::nominal;
    const double wait = base *
                        ScreenChange::backoffFactor(noChangeCount_, settings_.noChangeBackoffThreshold) *
                        ScreenChange::thermalFactor(thermal);
    return std::isfinite(wait) ? std::clamp(wait, 0.0, kLongestWaitSeconds) : kLongestWaitSeconds;
}

std::future<double> DefaultScreenCaptureMonitor::nextWait() {
    return executor_->submit([this] { return waitSeconds(); });
}

void DefaultScreenCaptureMonitor::runLoop(const std::stop_token& stop) {
    while (!stop.stop_requested()) {
        const auto wait = await(executor_->submit([this]() -> std::optional<double> {
            return isRunning_ ? std::optional(waitSeconds()) : std::nullopt;
        }));
        if (!wait)
            return;
        const auto deadline = clock().now() + std::chrono::duration_cast<platform::Clock::Duration>(
                                                  std::chrono::duration<double>(*wait));
        if (!platform::sleepUntil(clock(), deadline, stop))
            return;
        if (!await(executor_->submit([this] { return isRunning_; })))
            return;
        captureAndProcess();
    }
}

std::future<void> DefaultScreenCaptureMonitor::captureOnce() {
    return worker_->submit([this] { captureAndProcess(); });
}

void DefaultScreenCaptureMonitor::captureAndProcess() {
    const auto [displayID, region] = await(executor_->submit([this] {
        return std::pair{displayID_, captureRegion_};
    }));
    auto image = deps_.grabber->captureDisplayImage(displayID, region);
    if (!image)
        return;
    auto thumbnail = ScreenChange::makeThumbnail(*image, settings_.thumbW, settings_.thumbH);
    await(executor_->submit([this, image = std::move(*image), thumbnail = std::move(thumbnail)]() mutable {
        processCapture(std::move(image), std::move(thumbnail));
    }));
}

void DefaultScreenCaptureMonitor::processCapture(platform::RgbImage image,
                                                 std::vector<std::uint8_t> thumbnail) {
    if (lastThumbnail_.empty()) {
        lastThumbnail_ = std::move(thumbnail); // the first capture only sets the reference
        return;
    }
    const double score = ScreenChange::diffScore(lastThumbnail_, thumbnail, settings_.thumbW,
                                                 settings_.thumbH, settings_.edgeIgnoreRatio);
    if (const auto changed = video_.update(score)) {
        VelnoteLogger::app().info("screenshot mode changed video={} avg={}", changed->first, changed->second);
    }
    const double minimum = video_.isVideoMode() ? settings_.saveMinVideo : settings_.saveMinNormal;
    const auto now = clock().now();
    const bool intervalPassed =
        !lastSaveTime_ || std::chrono::duration<double>(now - *lastSaveTime_).count() >= minimum;
    if (score >= settings_.diffThreshold && intervalPassed) {
        noChangeCount_ = 0;
        lastSaveTime_ = now;
        saveShot(std::move(image), clock().wallNow(), score);
    } else if (score < settings_.diffThreshold) {
        // Capped past the longest back-off (50 for the default threshold of 5).
        noChangeCount_ = std::min<std::int64_t>(noChangeCount_ + 1, 10 * settings_.noChangeBackoffThreshold);
    }
    lastThumbnail_ = std::move(thumbnail); // the reference is the last capture, saved or not
}

void DefaultScreenCaptureMonitor::saveShot(platform::RgbImage image,
                                           std::chrono::system_clock::time_point now, double score) {
    ++captureIndex_;
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%04lld_", static_cast<long long>(captureIndex_));
    const fs::path path = capturesFolder() / (prefix + timeForFileName(now) + ".jpg");
    auto shared = std::make_shared<const platform::RgbImage>(std::move(image));
    std::shared_future<bool> written =
        platform::ThreadPool::shared()
            .executor(platform::Priority::utility)
            .submit([shared, path, write = jpegWriter()] { return write(*shared, path); })
            .share();
    capturedScreenshots_.push_back(CaptureRecord{now, path, std::move(written)});
    enforceCaptureRetentionLimits();
    if (!isProcessingOCR_) {
        ocrTask_ = platform::startTask(platform::ThreadPool::shared().executor(platform::Priority::utility),
                                       [this](const std::stop_token& stop) { processPendingOCR(stop); });
    }
    VelnoteLogger::app().info("screenshot saved index={} score={} video={}", captureIndex_, score,
                              video_.isVideoMode());
}

bool DefaultScreenCaptureMonitor::saveJPEG(const platform::RgbImage& image, const fs::path& path) {
    try {
        platform::createDirectories(path.parent_path()); // also when the folder went away meanwhile
        platform::writeFileAtomically(path, platform::encodeJpeg(image, 75));
        return true;
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("failed to write screenshot {}: {}", path.filename().string(), e.what());
        return false;
    }
}

void DefaultScreenCaptureMonitor::enforceCaptureRetentionLimits() {
    while (capturedScreenshots_.size() > static_cast<std::size_t>(settings_.maxCapturedScreenshots))
        capturedScreenshots_.pop_front();
    while (ocrRecords_.size() > static_cast<std::size_t>(settings_.maxOCRRecords))
        ocrRecords_.pop_front();
}

// ---- OCR pass ----

std::future<void> DefaultScreenCaptureMonitor::waitForOCR() {
    return worker_->submit([this] {
        for (;;) {
            auto pass = await(executor_->submit([this] { return std::exchange(ocrTask_, {}); }));
            if (!pass.valid())
                return;
            pass.wait();
        }
    });
}

void DefaultScreenCaptureMonitor::finishPass() {
    isProcessingOCR_ = false;
    if (!isRunning_)
        flushOCREntries(FlushMode::queue);
}

// Runs off the executor (on the pool, or on the reader); `stop` is read between shots, never
// during one recognition.
void DefaultScreenCaptureMonitor::processPendingOCR(const std::stop_token& stop) {
    auto pending = await(executor_->submit([this]() -> std::vector<CaptureRecord> {
        if (isProcessingOCR_)
            return {};
        isProcessingOCR_ = true;
        std::vector<CaptureRecord> records;
        for (const CaptureRecord& record : capturedScreenshots_) {
            const std::string key = record.path.string();
            if (!processedOCRPaths_.count(key) && !inProgressOCRPaths_.count(key))
                records.push_back(record);
        }
        if (records.empty()) {
            finishPass();
            return {};
        }
        for (const CaptureRecord& record : records)
            inProgressOCRPaths_.insert(record.path.string());
        return records;
    }));
    if (pending.empty())
        return;
    const std::vector<std::string> languages = configuredOCRRecognitionLanguages();
    for (const CaptureRecord& record : pending) {
        if (stop.stop_requested()) {
            // The shots not read stay taken for good: a stopped monitor reads no more.
            await(executor_->submit([this] { finishPass(); }));
            return;
        }
        if (record.written.valid())
            record.written.wait();
        const std::optional<platform::RgbImage> image = loadImage(record.path);
        if (!image) {
            await(executor_->submit([this, key = record.path.string()] {
                processedOCRPaths_.insert(key);
                inProgressOCRPaths_.erase(key);
            }));
            continue;
        }
        std::optional<platform::RgbImage> thumbnail;
        try {
            thumbnail = platform::scaledByAreaAverage(*image, kOCRThumbnailSize, kOCRThumbnailSize);
        } catch (const platform::ImageError&) {
        }
        const auto previous = await(executor_->submit([this] { return lastProcessedOCRThumbnail_; }));
        std::vector<OCRResult> results;
        try {
            results = deps_.ocrService->extractImportantTextWithVision(
                *image, thumbnail ? &*thumbnail : nullptr, previous ? &*previous : nullptr, kMaxCharsPerShot,
                languages);
        } catch (const std::exception& e) {
            // Recorded as a shot without text: the pass must end, or no later shot would be read.
            VelnoteLogger::app().error("text recognition failed for {}: {}", record.path.filename().string(),
                                       e.what());
        }
        await(executor_->submit([this, &record, &thumbnail, results = std::move(results)]() mutable {
            lastProcessedOCRThumbnail_ = std::move(thumbnail);
            appendOCRResult(record, recentTexts_.filterFixedText(results));
            inProgressOCRPaths_.erase(record.path.string());
        }));
    }
    await(executor_->submit([this] { finishPass(); }));
}

std::vector<std::string> DefaultScreenCaptureMonitor::configuredOCRRecognitionLanguages() {
    if (deps_.activeSessionConfig) {
        const std::optional<SessionConfig> active = deps_.activeSessionConfig();
        if (active && !active->capture.ocrRecognitionLanguages.empty())
            return active->capture.ocrRecognitionLanguages;
    }
    const fs::path metadata = SessionMetadataStore::fileIn(settings_.sessionDir);
    std::error_code ignored;
    if (!fs::exists(metadata, ignored))
        return {};
    try {
        return SessionMetadataStore::read(settings_.sessionDir).config.capture.ocrRecognitionLanguages;
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("OCR languages: failed to read session.json: {}", e.what());
        return {};
    }
}

void DefaultScreenCaptureMonitor::appendOCRResult(const CaptureRecord& item, std::vector<OCRResult> results) {
    OCRRecord record{item.timestamp, item.path, std::move(results)};
    const std::string text = record.text();
    if (!text.empty() && isSimilarToRecentOCR(text, 3)) {
        VelnoteLogger::app().info(
            "{} file={}",
            L10n::localized("L10n.ScreenCapture.ocrSkippedSimilar", "OCR: 直近レコードと類似のためスキップ"),
            item.path.filename().string());
        processedOCRPaths_.insert(item.path.string());
    } else {
        std::vector<std::string> texts;
        for (const OCRResult& r : record.results)
            texts.push_back(r.text);
        processedOCRPaths_.insert(item.path.string());
        appendOCRRecordToJsonl(record, false);
        ocrRecords_.push_back(std::move(record));
        recentTexts_.update(texts);
    }
    enforceCaptureRetentionLimits();
}

bool DefaultScreenCaptureMonitor::isSimilarToRecentOCR(const std::string& text,
                                                       std::size_t windowSize) const {
    const std::size_t first = ocrRecords_.size() > windowSize ? ocrRecords_.size() - windowSize : 0;
    for (std::size_t i = first; i < ocrRecords_.size(); ++i) {
        if (OCRService::characterBigramJaccard(ocrRecords_[i].text(), text) > 0.85)
            return true;
    }
    return false;
}

void DefaultScreenCaptureMonitor::appendOCRRecordToJsonl(const OCRRecord& record, bool isManual) {
    try {
        pendingOCREntries_.push_back(OCRContextLog::line(record, settings_.sessionStartedAt, isManual));
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("OCR context: failed to serialize JSON for {}: {}",
                                   record.path.filename().string(), e.what());
        return;
    }
    if (pendingOCREntries_.size() >= static_cast<std::size_t>(settings_.ocrWriteBatchSize))
        flushOCREntries(FlushMode::queue);
}

void DefaultScreenCaptureMonitor::flushOCREntries(FlushMode mode) {
    // A waiting flush waits for the batches queued before it even with nothing of its own, so that
    // every line recorded so far is in the file when stop() returns; it also retries the lines of
    // a batch that failed.
    if (pendingOCREntries_.empty() && mode == FlushMode::queue)
        return;
    auto write = [entries = std::exchange(pendingOCREntries_, {}), writer = ocrWriter_]() mutable {
        writer->write(std::move(entries));
    };
    if (mode == FlushMode::wait)
        await(writeQueue_->submit(std::move(write))); // after every batch queued before it
    else
        writeQueue_->post(std::move(write));
}

// ---- Reading and manual screenshots ----

std::future<std::string> DefaultScreenCaptureMonitor::ocrContextJsonl(double sinceElapsedSeconds) {
    return reader_->submit([this, sinceElapsedSeconds] {
        processPendingOCR({});
        std::string contents;
        try {
            contents = platform::readFile(ocrContextFile_);
        } catch (const std::exception& e) {
            VelnoteLogger::app().error("failed to read OCR context JSONL for elapsed filter: {}", e.what());
            return std::string();
        }
        return OCRContextLog::linesSince(contents, sinceElapsedSeconds);
    });
}

std::future<std::optional<fs::path>> DefaultScreenCaptureMonitor::captureManualScreenshotOCR() {
    return worker_->submit([this] { return manualScreenshot(); });
}

std::optional<fs::path> DefaultScreenCaptureMonitor::manualScreenshot() {
    const auto [displayID, region] = await(executor_->submit([this] {
        return std::pair{displayID_, captureRegion_};
    }));
    std::optional<platform::RgbImage> image = deps_.grabber->captureDisplayImage(displayID, region);
    if (!image) {
        VelnoteLogger::app().error("manual screenshot capture failed");
        return std::nullopt;
    }
    try {
        platform::createDirectories(capturesFolder());
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("failed to create manual capture directory: {}", e.what());
    }
    const auto now = clock().wallNow();
    const int suffix = deps_.randomSuffix ? deps_.randomSuffix() : randomSuffix();
    const std::string base = "manual_" + timeForFileName(now) + "_" + std::to_string(suffix);
    const fs::path jpegPath = capturesFolder() / (base + ".jpg");
    const fs::path textPath = capturesFolder() / (base + ".txt");
    auto shared = std::make_shared<const platform::RgbImage>(*image);
    std::shared_future<bool> written =
        platform::ThreadPool::shared()
            .executor(platform::Priority::utility)
            .submit([shared, jpegPath, write = jpegWriter()] { return write(*shared, jpegPath); })
            .share();

    const std::vector<std::string> languages = configuredOCRRecognitionLanguages();
    std::vector<OCRResult> results = deps_.ocrService->extractImportantTextWithVision(
        *image, nullptr, nullptr, kMaxCharsPerShot, languages);
    const std::string none = L10n::localized("L10n.ScreenCapture.ocrResultNone", "(OCR結果なし)");
    std::string text;
    if (!results.empty()) {
        text = OCRRecord{now, jpegPath, results}.text();
        if (text.empty())
            text = none;
    } else {
        const std::string full = deps_.ocrService->recognizeTextOnEntireImage(*image, languages);
        if (full.empty()) {
            text = none;
        } else {
            text = full;
            results.push_back(OCRResult{.text = full,
                                        .boundingBox = PixelRect{0, 0, static_cast<double>(image->width),
                                                                 static_cast<double>(image->height)},
                                        .score = 1.0});
        }
    }
    try {
        platform::writeFileAtomically(textPath, text);
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("failed to write manual OCR text: {}", e.what());
        written.wait();
        return std::nullopt;
    }
    await(executor_->submit([&, record = OCRRecord{now, jpegPath, std::move(results)}] {
        capturedScreenshots_.push_back(CaptureRecord{now, jpegPath, written});
        appendOCRRecordToJsonl(record, true);
        ocrRecords_.push_back(record);
        processedOCRPaths_.insert(jpegPath.string());
        VelnoteLogger::app().info("manual screenshot OCR saved: {}", textPath.string());
    }));
    return textPath;
}

} // namespace velnote
