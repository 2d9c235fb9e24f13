// Real screenshots and real text recognition on the test display (scripts/test-services starts
// Xvfb at 1280 × 800): a window shows known text in a large font, the screen is captured through
// X and read by Tesseract.
#include "context/ocr/VisionOCRService.h"
#include "context/screen/DefaultScreenCaptureMonitor.h"
#include "context/screen/X11DisplayCapture.h"
#include "platform/fs/Files.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <cstdlib>
#include <gtest/gtest.h>

namespace velnote {
namespace {

QGuiApplication& application() {
    static int argc = 1;
    static char name[] = "x11-capture-test";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    return app;
}

// A full-screen white window with black text lines.
class TextWindow final : public QRasterWindow {
  public:
    explicit TextWindow(QStringList lines) : lines_(std::move(lines)) {}

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(QRect(QPoint(0, 0), size()), Qt::white);
        painter.setPen(Qt::black);
        QFont font("DejaVu Sans");
        font.setPixelSize(44);
        painter.setFont(font);
        for (int i = 0; i < lines_.size(); ++i)
            painter.drawText(120, 250 + i * 110, lines_[i]);
        painted = true;
    }

  public:
    bool painted = false;

  private:
    QStringList lines_;
};

void pumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

class X11CaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr)
            GTEST_SKIP() << "no X display (run under scripts/test-services)";
        application();
        window =
            std::make_unique<TextWindow>(QStringList{"Quarterly budget review", "Hiring plan for spring"});
        window->showFullScreen();
        pumpUntil([&] { return window->painted && window->isExposed(); });
        // Give the server a moment to finish drawing what the window painted.
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 300)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    void TearDown() override { window.reset(); }

    std::unique_ptr<TextWindow> window;
    X11DisplayCapture displays;
    DefaultVisionOCRService ocr{VisionOCRDependencies{
        .recognizer = nullptr,
        .supportedLanguages = [] { return std::vector<std::string>{"en-US"}; },
        .effectiveInputLanguage = [] { return std::optional<std::string>(); },
        .customWords = [] { return std::vector<std::string>{}; },
    }};
};

TEST_F(X11CaptureTest, ListsTheDisplayAndItsScreen) {
    const auto list = displays.enumerate();
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list[0].id, 0);
    EXPECT_FALSE(list[0].name.empty());
    EXPECT_EQ(displays.mainDisplayID(), list[0].displayID);
    const auto screens = displays.screens();
    ASSERT_EQ(screens.size(), list.size());
    EXPECT_EQ(screens[0].displayID, list[0].displayID);
    EXPECT_EQ(screens[0].frame, (ScreenRect{.x = 0, .y = 0, .width = 1280, .height = 800}));
}

TEST_F(X11CaptureTest, CapturesTheDisplayOrARegionOfIt) {
    const auto whole = displays.captureDisplayImage(displays.mainDisplayID(), std::nullopt);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->width, 1280);
    EXPECT_EQ(whole->height, 800);
    EXPECT_EQ(whole->pixel(5, 5)[0], 255); // the white window

    // An unknown display falls back to the first; a region is cut to the display.
    const auto part =
        displays.captureDisplayImage(12345, ScreenRect{.x = 1200, .y = 700, .width = 500, .height = 500});
    ASSERT_TRUE(part);
    EXPECT_EQ(part->width, 80);
    EXPECT_EQ(part->height, 100);
    EXPECT_FALSE(displays.captureDisplayImage(displays.mainDisplayID(),
                                              ScreenRect{.x = 5000, .y = 0, .width = 10, .height = 10}));
}

TEST_F(X11CaptureTest, ReadsTheTextOnScreen) {
    const auto image = displays.captureDisplayImage(displays.mainDisplayID(), std::nullopt);
    ASSERT_TRUE(image);
    const auto lines = ocr.extractImportantTextWithVision(*image, nullptr, nullptr, 800, {"en-US"});
    std::vector<std::string> texts;
    for (const OCRResult& line : lines)
        texts.push_back(line.text);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Quarterly budget review"), texts.end())
        << ::testing::PrintToString(texts);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Hiring plan for spring"), texts.end());
    for (const OCRResult& line : lines) {
        EXPECT_GT(line.boundingBox.width, 100);
        EXPECT_GT(line.boundingBox.y, 150); // drawn below the top of the screen
    }
    EXPECT_NE(ocr.recognizeTextOnEntireImage(*image, {"en-US"}).find("budget review"), std::string::npos);

    const auto [regions, salient] = ocr.extractStructuredTextRegions(*image, nullptr, nullptr, 100, 20);
    ASSERT_FALSE(regions.empty());
    EXPECT_LE(salient, 20);
    std::vector<std::string> regionTexts;
    for (const StructuredTextRegion& region : regions)
        regionTexts.push_back(region.text + " " + region.position);
    // The lines sit at 250 and 360 of 800 pixels: the first in the top third, the second in the
    // middle one.
    EXPECT_NE(std::find(regionTexts.begin(), regionTexts.end(), "Quarterly budget review top"),
              regionTexts.end())
        << ::testing::PrintToString(regionTexts);
    EXPECT_NE(std::find(regionTexts.begin(), regionTexts.end(), "Hiring plan for spring center"),
              regionTexts.end());
}

TEST_F(X11CaptureTest, ManualScreenshotSavesTheTextOfTheScreen) {
    testing::TempDir dir;
    ScreenCaptureMonitorSettings settings;
    settings.sessionDir = dir.path();
    settings.displayID = displays.mainDisplayID();
    std::shared_ptr<X11DisplayCapture> grabber = std::make_shared<X11DisplayCapture>();
    std::shared_ptr<VisionOCRServiceProtocol> service(&ocr, [](auto*) {});
    auto monitor = std::make_shared<DefaultScreenCaptureMonitor>(
        settings, ScreenCaptureMonitorDependencies{.grabber = grabber,
                                                   .ocrService = service,
                                                   .clock = nullptr,
                                                   .thermalState = nullptr,
                                                   .activeSessionConfig = nullptr,
                                                   .randomSuffix = nullptr,
                                                   .writeJPEG = nullptr});
    const auto saved = monitor->captureManualScreenshotOCR().get();
    ASSERT_TRUE(saved);
    EXPECT_NE(platform::readFile(*saved).find("Quarterly budget review"), std::string::npos);
    monitor->stop().get();
    EXPECT_NE(monitor->ocrContextJsonl(0).get().find("Hiring plan for spring"), std::string::npos);
    auto jpeg = *saved;
    jpeg.replace_extension(".jpg");
    monitor.reset();
    EXPECT_TRUE(std::filesystem::is_regular_file(jpeg)); // written in the background by now
}

} // namespace
} // namespace velnote
