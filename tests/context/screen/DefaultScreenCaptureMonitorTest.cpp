#include "context/screen/DefaultScreenCaptureMonitor.h"

#include "platform/concurrency/ManualClock.h"
#include "platform/fs/Files.h"
#include "platform/json/Json.h"
#include "platform/logging/Logger.h"
#include "session/folder/SessionMetadataStore.h"
#include "session/l10n/L10n.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <thread>

namespace velnote {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A screenshot of one grey level: thumbnails of two levels differ by exactly their difference.
platform::RgbImage solid(std::uint8_t level) {
    return platform::RgbImage{64, 36, std::vector<std::uint8_t>(64 * 36 * 3, level)};
}

class FakeGrabber final : public ScreenGrabber {
  public:
    std::optional<platform::RgbImage> captureDisplayImage(std::uint32_t displayID,
                                                          const std::optional<ScreenRect>& region) override {
        std::lock_guard lock(mutex);
        requests.emplace_back(displayID, region);
        if (failing)
            return std::nullopt;
        if (levels.empty())
            return solid(current);
        current = levels.front();
        levels.erase(levels.begin());
        return solid(current);
    }
    std::size_t captures() {
        std::lock_guard lock(mutex);
        return requests.size();
    }

    std::mutex mutex;
    std::vector<std::uint8_t> levels; // the next screens; the last one stays
    std::uint8_t current = 0;
    bool failing = false;
    std::vector<std::pair<std::uint32_t, std::optional<ScreenRect>>> requests;
};

// Reads a screenshot's "text" from its grey level.
class FakeOCR final : public VisionOCRServiceProtocol {
  public:
    std::vector<OCRResult> extractImportantTextWithVision(const platform::RgbImage& image,
                                                          const platform::RgbImage*,
                                                          const platform::RgbImage*, std::int64_t maxChars,
                                                          const std::vector<std::string>& languages,
                                                          const std::stop_token&) override {
        std::lock_guard lock(mutex);
        calls.push_back({image.pixels.empty() ? 0 : image.pixels[0], maxChars, languages});
        // JPEG may move a grey level by one: look for the nearest.
        for (int d = 0; d <= 2; ++d) {
            for (int level : {image.pixels[0] - d, image.pixels[0] + d}) {
                if (auto it = texts.find(level); it != texts.end())
                    return it->second;
            }
        }
        return {};
    }
    std::string recognizeTextOnEntireImage(const platform::RgbImage&, const std::vector<std::string>&,
                                           const std::stop_token&) override {
        return fullText;
    }
    std::pair<std::vector<StructuredTextRegion>, std::int64_t>
    extractStructuredTextRegions(const platform::RgbImage&, const platform::RgbImage*,
                                 const platform::RgbImage*, std::int64_t, std::int64_t,
                                 const std::stop_token&) override {
        return {};
    }

    struct Call {
        int level;
        std::int64_t maxChars;
        std::vector<std::string> languages;
    };
    std::mutex mutex;
    std::map<int, std::vector<OCRResult>> texts;
    std::string fullText;
    std::vector<Call> calls;
};

std::vector<OCRResult> lines(std::initializer_list<std::string> texts) {
    std::vector<OCRResult> results;
    for (const std::string& text : texts)
        results.push_back(OCRResult{text, PixelRect{0, 0, 10, 10}, 0.9});
    return results;
}

class MonitorTest : public ::testing::Test {
  protected:
    std::shared_ptr<DefaultScreenCaptureMonitor> make(ScreenCaptureMonitorSettings settings = {}) {
        settings.sessionDir = dir.path();
        settings.sessionStartedAt = clock->wallNow();
        settings.displayID = 7;
        ScreenCaptureMonitorDependencies deps{
            .grabber = grabber,
            .ocrService = ocr,
            .clock = clock,
            .thermalState = [this] { return thermal; },
            .activeSessionConfig = [this] { return activeConfig; },
            .randomSuffix = [] { return 42; },
            .writeJPEG = nullptr,
        };
        if (slowJpeg) {
            deps.writeJPEG = [](const platform::RgbImage& image, const fs::path& path) {
                std::this_thread::sleep_for(200ms); // the OCR pass must wait for the file
                return DefaultScreenCaptureMonitor::saveJPEG(image, path);
            };
        }
        return std::make_shared<DefaultScreenCaptureMonitor>(settings, std::move(deps));
    }
    // A started monitor whose own loop does not wake while the test moves the clock.
    static ScreenCaptureMonitorSettings quietLoop() {
        ScreenCaptureMonitorSettings settings;
        settings.pollNormal = settings.pollVideo = 1e6;
        return settings;
    }
    // One capture of each grey level, `step` apart on the clock.
    void captureLevels(DefaultScreenCaptureMonitor& monitor, std::vector<std::uint8_t> levels,
                       std::chrono::milliseconds step = 5s) {
        for (std::uint8_t level : levels) {
            clock->advance(step);
            grabber->levels = {level};
            monitor.captureOnce().get();
        }
    }
    std::vector<platform::Json> logLines() {
        std::vector<platform::Json> result;
        const auto text = platform::readFileIfPresent(dir / "ocr_context.jsonl");
        if (!text)
            return result;
        std::size_t start = 0;
        while (start < text->size()) {
            const std::size_t end = text->find('\n', start);
            result.push_back(platform::parseJson(text->substr(start, end - start)));
            start = end + 1;
        }
        return result;
    }
    // Shots the monitor decided to save (their files are written in the background).
    std::size_t saves() const {
        std::size_t n = 0;
        for (const auto& record : log.records())
            n += record.message.starts_with("screenshot saved") ? 1 : 0;
        return n;
    }
    std::vector<std::string> captureFiles() {
        std::vector<std::string> names;
        for (const auto& p : platform::listDirectory(dir / "screencaptures", platform::HiddenEntries::skip))
            names.push_back(p.filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    platform::LogCapture log;
    testing::TempDir dir;
    std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>(
        platform::Clock::SteadyTime(100s), platform::Clock::WallTime(1'738'314'900s));
    std::shared_ptr<FakeGrabber> grabber = std::make_shared<FakeGrabber>();
    std::shared_ptr<FakeOCR> ocr = std::make_shared<FakeOCR>();
    platform::ThermalState thermal = platform::ThermalState::nominal;
    std::optional<SessionConfig> activeConfig;
    bool slowJpeg = false;
};

TEST_F(MonitorTest, SavesAChangedScreenAndLogsItsText) {
    ocr->texts[100] = lines({"Quarterly budget review"});
    auto monitor = make(quietLoop());
    monitor->start().get();
    captureLevels(*monitor, {50, 50, 100}); // reference, still, changed by 50
    monitor->waitForOCR().get();
    monitor->stop().get();

    // 2025-01-31T09:15:00Z is the wall clock's start; the third capture came 15 s later.
    EXPECT_EQ(captureFiles(), std::vector<std::string>{"0001_2025-01-31T09-15-15Z.jpg"});
    const auto log = logLines();
    ASSERT_EQ(log.size(), 1U);
    EXPECT_EQ(log[0]["filename"], "0001_2025-01-31T09-15-15Z.jpg");
    EXPECT_EQ(log[0]["text"], "Quarterly budget review");
    EXPECT_EQ(log[0]["timestamp"], "00:15");
    EXPECT_EQ(log[0]["is_manual"], false);
    ASSERT_EQ(ocr->calls.size(), 1U);
    EXPECT_EQ(ocr->calls[0].maxChars, 800);
    EXPECT_EQ(grabber->requests.back().first, 7U);
}

TEST_F(MonitorTest, StillScreensStretchTheWaitAndASaveResetsIt) {
    auto monitor = make();
    EXPECT_DOUBLE_EQ(monitor->nextWait().get(), 2);
    thermal = platform::ThermalState::serious;
    EXPECT_DOUBLE_EQ(monitor->nextWait().get(), 3.2);
    thermal = platform::ThermalState::nominal;
    captureLevels(*monitor, {10}); // reference only
    const std::pair<int, double> expected[] = {{4, 2}, {5, 4}, {14, 4}, {15, 8}, {29, 8}, {30, 16}, {60, 16}};
    int still = 0;
    for (const auto& [count, wait] : expected) {
        while (still < count) {
            captureLevels(*monitor, {10});
            ++still;
        }
        EXPECT_DOUBLE_EQ(monitor->nextWait().get(), wait) << count << " still captures";
    }
    captureLevels(*monitor, {200});
    EXPECT_DOUBLE_EQ(monitor->nextWait().get(), 2);
}

TEST_F(MonitorTest, AChangeTooSoonIsNeitherSavedNorStill) {
    auto monitor = make();
    captureLevels(*monitor, {10, 60});  // saved
    captureLevels(*monitor, {110}, 2s); // 2 s after the save: too soon
    EXPECT_EQ(saves(), 1U);
    captureLevels(*monitor, {110, 110, 110, 110}, 1s); // 4 still: the too-soon change did not count
    EXPECT_DOUBLE_EQ(monitor->nextWait().get(), 2);
    captureLevels(*monitor, {110}, 1s);
    EXPECT_DOUBLE_EQ(monitor->nextWait().get(), 4);
    // A slow drift below 15 a capture is never saved.
    for (std::uint8_t level = 120; level < 250; level += 10)
        captureLevels(*monitor, {level});
    EXPECT_EQ(saves(), 1U);
}

TEST_F(MonitorTest, VideoModeSlowsPollingAndSaving) {
    auto monitor = make();
    captureLevels(*monitor, {0});
    std::uint8_t level = 0;
    for (int i = 0; i < 11; ++i) {
        level = static_cast<std::uint8_t>(level == 0 ? 30 : 0);
        captureLevels(*monitor, {level}, 1s); // moving, but too soon to save after the first
    }
    EXPECT_DOUBLE_EQ(monitor->nextWait().get(), 2); // 11 scores: undecided
    captureLevels(*monitor, {static_cast<std::uint8_t>(level == 0 ? 30 : 0)}, 1s);
    EXPECT_DOUBLE_EQ(monitor->nextWait().get(), 4); // video: pollVideo
    const auto saved = saves();
    captureLevels(*monitor, {90}, 10s); // 10 s is enough normally, not in video mode (20 s)
    EXPECT_EQ(saves(), saved);
    captureLevels(*monitor, {150}, 21s);
    EXPECT_EQ(saves(), saved + 1);
}

TEST_F(MonitorTest, RepeatedAndFixedTextsAreLeftOut) {
    ocr->texts[20] = lines({"Inbox", "Weekly planning meeting notes"});
    ocr->texts[60] = lines({"Inbox", "Weekly planning meeting notes!"}); // near the first: skipped
    ocr->texts[100] = lines({"Inbox", "Design review agenda"});
    ocr->texts[140] = lines({"Inbox", "Hiring pipeline status"});
    ocr->texts[180] = lines({"Inbox"}); // "Inbox" is in 3 recorded shots by now: nothing left
    auto monitor = make(quietLoop());
    monitor->start().get();
    for (std::uint8_t level : {0, 20, 60, 100, 140, 180}) {
        captureLevels(*monitor, {level});
        monitor->waitForOCR().get();
    }
    monitor->stop().get();
    const auto log = logLines();
    ASSERT_EQ(log.size(), 4U);
    EXPECT_EQ(log[0]["text"], "Inbox Weekly planning meeting notes");
    EXPECT_EQ(log[1]["text"], "Inbox Design review agenda");
    EXPECT_EQ(log[2]["text"], "Inbox Hiring pipeline status");
    EXPECT_EQ(log[3]["text"], "");
    EXPECT_EQ(log[3]["results"], platform::Json::array());
    EXPECT_EQ(captureFiles().size(), 5U); // the skipped shot's file stays
}

TEST_F(MonitorTest, OCRPassWaitsForTheScreenshotFile) {
    slowJpeg = true;
    ocr->texts[100] = lines({"Release checklist"});
    auto monitor = make();
    captureLevels(*monitor, {0, 100});
    monitor->waitForOCR().get();
    monitor->stop().get();
    const auto log = logLines();
    ASSERT_EQ(log.size(), 1U);
    EXPECT_EQ(log[0]["text"], "Release checklist");
}

TEST_F(MonitorTest, LinesAreWrittenFiveAtATimeAndAtStop) {
    auto monitor = make(quietLoop());
    monitor->start().get();
    std::uint8_t level = 0;
    captureLevels(*monitor, {level});
    for (int i = 1; i <= 6; ++i) {
        level = static_cast<std::uint8_t>(i * 40);
        ocr->texts[level] = lines({"Distinct text number " + std::string(static_cast<std::size_t>(i), 'x') +
                                   "yz" + std::to_string(i * 1111)});
        captureLevels(*monitor, {level});
        monitor->waitForOCR().get();
    }
    EXPECT_EQ(monitor->ocrContextJsonl(0).get().empty(), false);
    EXPECT_EQ(logLines().size(), 5U); // the sixth waits for the next batch
    monitor->stop().get();
    EXPECT_EQ(logLines().size(), 6U);
}

TEST_F(MonitorTest, TuningComesFromTheSettings) {
    ScreenCaptureMonitorSettings settings;
    settings.pollNormal = 1000; // the loop stays asleep while the test moves the clock
    settings.diffThreshold = 60;
    settings.noChangeBackoffThreshold = 2;
    settings.ocrWriteBatchSize = 2;
    settings.thumbW = 0; // makes no sense: the default is used
    auto monitor = make(settings);
    monitor->start().get();
    captureLevels(*monitor, {0, 50}); // a change of 50 is still below 60
    EXPECT_DOUBLE_EQ(monitor->nextWait().get(), 1000);
    captureLevels(*monitor, {50}); // the second still capture doubles the wait
    EXPECT_DOUBLE_EQ(monitor->nextWait().get(), 2000);
    EXPECT_EQ(saves(), 0U);

    ocr->texts[120] = lines({"Budget spreadsheet totals"});
    ocr->texts[190] = lines({"Vendor contract renewal"});
    captureLevels(*monitor, {120});
    monitor->waitForOCR().get();
    captureLevels(*monitor, {190});
    monitor->waitForOCR().get();
    EXPECT_EQ(saves(), 2U);
    for (int i = 0; i < 200 && logLines().size() < 2; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(logLines().size(), 2U); // a batch of two, before stop()
    monitor->stop().get();
}

// A batch that cannot be written is kept and written with the next one, not lost.
TEST_F(MonitorTest, LinesOfAFailedWriteAreWrittenLater) {
    fs::create_directory(dir / "ocr_context.jsonl"); // in the way of the first batch
    auto monitor = make(quietLoop());
    monitor->start().get();
    captureLevels(*monitor, {0});
    for (int i = 1; i <= 5; ++i) {
        const auto level = static_cast<std::uint8_t>(i * 40);
        ocr->texts[level] = lines({"Agenda item " + std::string(static_cast<std::size_t>(i), 'q') + "z" +
                                   std::to_string(i * 7777)});
        captureLevels(*monitor, {level});
        monitor->waitForOCR().get();
    }
    monitor->waitForOCR().get();
    for (int i = 0; i < 200 && !log.contains("lines kept for the next write"); ++i)
        std::this_thread::sleep_for(10ms);
    fs::remove(dir / "ocr_context.jsonl");
    monitor->stop().get();
    const auto written = logLines();
    ASSERT_EQ(written.size(), 5U);
    EXPECT_EQ(written[0]["text"], "Agenda item qz7777");
    EXPECT_EQ(written[4]["text"], "Agenda item qqqqqz38885");
}

TEST_F(MonitorTest, ContextReaderReadsTheShotsSavedSoFar) {
    auto monitor = make();
    EXPECT_EQ(monitor->ocrContextJsonl(0).get(), ""); // no file yet
    ocr->texts[100] = lines({"Roadmap for next quarter"});
    captureLevels(*monitor, {0, 100}, 700s);
    monitor->waitForOCR().get();
    monitor->stop().get(); // writes the line, taken at 23:20
    EXPECT_NE(monitor->ocrContextJsonl(0).get().find("Roadmap"), std::string::npos);
    EXPECT_NE(monitor->ocrContextJsonl(1400).get().find("Roadmap"), std::string::npos);
    EXPECT_EQ(monitor->ocrContextJsonl(1401).get(), "");
}

TEST_F(MonitorTest, ManualScreenshotWritesItsTextAndALine) {
    ocr->texts[77] = lines({"Contract draft", "Signature page"});
    grabber->current = 77;
    auto monitor = make();
    const auto saved = monitor->captureManualScreenshotOCR().get();
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->filename(), "manual_2025-01-31T09-15-00Z_42.txt");
    EXPECT_EQ(platform::readFile(*saved), "Contract draft Signature page");
    monitor->stop().get();
    const auto log = logLines();
    ASSERT_EQ(log.size(), 1U);
    EXPECT_EQ(log[0]["is_manual"], true);
    EXPECT_EQ(log[0]["filename"], "manual_2025-01-31T09-15-00Z_42.jpg");
}

TEST_F(MonitorTest, ManualScreenshotFallsBackToTheWholeText) {
    grabber->current = 5;
    auto monitor = make();
    ocr->fullText = "tiny";
    auto saved = monitor->captureManualScreenshotOCR().get();
    ASSERT_TRUE(saved);
    EXPECT_EQ(platform::readFile(*saved), "tiny");
    ocr->fullText = "";
    clock->advance(1s);
    saved = monitor->captureManualScreenshotOCR().get();
    ASSERT_TRUE(saved);
    EXPECT_EQ(platform::readFile(*saved),
              L10n::localized("L10n.ScreenCapture.ocrResultNone", "(OCR結果なし)"));
    monitor->stop().get();
    const auto log = logLines();
    ASSERT_EQ(log.size(), 2U);
    EXPECT_EQ(log[0]["results"][0]["score"], 1.0);
    EXPECT_EQ(log[1]["text"], "");
    EXPECT_EQ(log[1]["results"], platform::Json::array());
}

// A monitor built only for one manual screenshot is released without stop(): its line and its
// picture are written all the same.
TEST_F(MonitorTest, ReleasingAMonitorWritesItsPendingLinesAndPictures) {
    ocr->texts[33] = lines({"Whiteboard photo notes"});
    grabber->current = 33;
    slowJpeg = true;
    fs::path text;
    {
        auto monitor = make();
        text = monitor->captureManualScreenshotOCR().get().value();
    }
    EXPECT_TRUE(fs::is_regular_file(fs::path(text).replace_extension(".jpg")));
    ASSERT_EQ(logLines().size(), 1U);
    EXPECT_EQ(logLines()[0]["text"], "Whiteboard photo notes");
}

TEST_F(MonitorTest, ManualScreenshotFailures) {
    grabber->failing = true;
    auto monitor = make();
    EXPECT_FALSE(monitor->captureManualScreenshotOCR().get());
    grabber->failing = false;
    // The text file cannot be written: no result and no line, though the JPEG may exist.
    platform::writeFileAtomically(dir / "screencaptures", "a file where the folder should be");
    EXPECT_FALSE(monitor->captureManualScreenshotOCR().get());
    monitor->stop().get();
    EXPECT_TRUE(logLines().empty());
}

TEST_F(MonitorTest, RecognitionLanguagesComeFromTheSessionThenItsFile) {
    grabber->current = 9;
    SessionMetadata metadata;
    metadata.config.capture.ocrRecognitionLanguages = {"en-US"};
    platform::writeFileAtomically(SessionMetadataStore::fileIn(dir.path()),
                                  SessionMetadataStore::encode(metadata));
    auto monitor = make();
    activeConfig = SessionConfig{};
    activeConfig->capture.ocrRecognitionLanguages = {"ja-JP", "en-US"};
    monitor->captureManualScreenshotOCR().get();
    activeConfig->capture.ocrRecognitionLanguages.clear(); // an empty list: the file decides
    monitor->captureManualScreenshotOCR().get();
    platform::writeFileAtomically(SessionMetadataStore::fileIn(dir.path()), "{ not json");
    monitor->captureManualScreenshotOCR().get();
    ASSERT_EQ(ocr->calls.size(), 3U);
    EXPECT_EQ(ocr->calls[0].languages, (std::vector<std::string>{"ja-JP", "en-US"}));
    EXPECT_EQ(ocr->calls[1].languages, (std::vector<std::string>{"en-US"}));
    EXPECT_TRUE(ocr->calls[2].languages.empty());
}

TEST_F(MonitorTest, DisplayAndRegionReachTheNextCapture) {
    auto monitor = make();
    monitor->updateDisplayID(3).get();
    const ScreenRect region{.x = 10, .y = 20, .width = 300, .height = 200};
    monitor->updateCaptureRegion(region).get();
    monitor->captureOnce().get();
    monitor->updateCaptureRegion(std::nullopt).get();
    monitor->captureOnce().get();
    ASSERT_EQ(grabber->requests.size(), 2U);
    EXPECT_EQ(grabber->requests[0], (std::pair<std::uint32_t, std::optional<ScreenRect>>{3, region}));
    EXPECT_EQ(grabber->requests[1].second, std::nullopt);
}

TEST_F(MonitorTest, LoopCapturesOneWaitAfterStartAndStartTwiceRunsOneLoop) {
    auto monitor = make();
    monitor->start().get();
    monitor->start().get();
    EXPECT_TRUE(fs::is_directory(dir / "screencaptures"));
    const auto waitFor = [&](std::size_t count) {
        for (int i = 0; i < 500 && grabber->captures() < count; ++i)
            std::this_thread::sleep_for(10ms);
        return grabber->captures();
    };
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(grabber->captures(), 0U);
    clock->advance(2s);
    EXPECT_EQ(waitFor(1), 1U);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(grabber->captures(), 1U); // one loop, waiting for its next 2 s
    monitor->stop().get();
    clock->advance(10s);
    std::this_thread::sleep_for(50ms);
    EXPECT_LE(grabber->captures(), 2U); // a capture under way at stop may still finish
}

} // namespace
} // namespace velnote
