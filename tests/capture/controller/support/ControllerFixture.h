#pragma once

#include "app/state/AppState.h"
#include "capture/controller/AudioCaptureManager.h"
#include "capture/controls/AudioMuteState.h"
#include "capture/controls/RecordingRuntimeSettings.h"
#include "platform/audio/PulseClient.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/ManualClock.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/fs/Files.h"
#include "platform/json/IsoDate.h"
#include "platform/settings/SettingsStore.h"
#include "session/folder/SessionMetadataStore.h"
#include "support/PulseTestServer.h"
#include "support/TempDir.h"
#include "support/ToneFiles.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace velnote::testing {

// Every call the recording controller made of its neighbours, in order, as short lines.
class CallLog {
  public:
    void add(std::string line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
    }
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::vector<std::string> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(lines_, {});
    }
    bool contains(const std::string& line) const {
        std::lock_guard lock(mutex_);
        return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

inline std::future<void> readyFuture() {
    std::promise<void> promise;
    promise.set_value();
    return promise.get_future();
}

// A WAV file whose RIFF size matches its length: closed by its writer (libsndfile writes the
// sizes when it closes the file).
inline bool isClosedWav(const std::filesystem::path& file) {
    const std::string bytes = platform::readFile(file);
    if (bytes.size() < 44 || bytes.compare(0, 4, "RIFF") != 0)
        return false;
    std::uint32_t riffSize = 0;
    std::memcpy(&riffSize, bytes.data() + 4, 4);
    return riffSize == bytes.size() - 8;
}

// The processing queue as the controller sees it; at each enqueue it notes which audio files of
// the folder were not yet closed.
class FakeQueue final : public RecordingQueue {
  public:
    explicit FakeQueue(CallLog& log) : log_(log) {}
    std::future<void> pause() override { return record("queue pause"); }
    std::future<void> resume() override { return record("queue resume"); }
    std::future<void> setActiveRecordingFolder(std::optional<std::filesystem::path> dir) override {
        return record("queue active " + (dir ? dir->filename().string() : std::string("none")));
    }
    std::future<void> enqueue(const std::filesystem::path& dir) override {
        for (const auto& file : platform::listDirectory(dir / "audio")) {
            if (!isClosedWav(file)) {
                std::lock_guard lock(mutex_);
                openAtEnqueue.push_back(file.filename().string());
            }
        }
        return record("queue enqueue " + dir.filename().string());
    }

    std::mutex mutex_;
    std::vector<std::string> openAtEnqueue;

  private:
    std::future<void> record(std::string line) {
        log_.add(std::move(line));
        return readyFuture();
    }
    CallLog& log_;
};

class FakeLiveTranscription final : public LiveTranscriptionService {
  public:
    explicit FakeLiveTranscription(CallLog& log) : log_(log) {}
    std::future<void> startSession(const std::filesystem::path& dir,
                                   std::optional<std::string> language) override {
        log_.add("live transcript start " + dir.filename().string() + " " + language.value_or("auto"));
        return readyFuture();
    }
    std::future<void> stopSession() override {
        log_.add("live transcript stop");
        return readyFuture();
    }
    void yieldMicBuffer(std::span<const float>, const platform::AudioFormat&) override { ++micBuffers; }
    void yieldSysBuffer(std::span<const float>, const platform::AudioFormat&) override { ++sysBuffers; }

    std::atomic<int> micBuffers = 0;
    std::atomic<int> sysBuffers = 0;

  private:
    CallLog& log_;
};

class FakeLiveSummary final : public LiveSummaryService {
  public:
    explicit FakeLiveSummary(CallLog& log) : log_(log) {}
    std::future<void> startSession(const std::filesystem::path& dir,
                                   std::shared_ptr<ScreenCaptureMonitoring> monitor, const SessionConfig&,
                                   std::chrono::system_clock::time_point) override {
        log_.add("live summary start " + dir.filename().string() + (monitor ? " with monitor" : ""));
        return readyFuture();
    }
    std::future<void> stopSession() override {
        log_.add("live summary stop");
        return readyFuture();
    }
    std::future<void> setScreenMonitor(std::shared_ptr<ScreenCaptureMonitoring> monitor) override {
        log_.add(std::string("live summary monitor ") + (monitor ? "set" : "none"));
        return readyFuture();
    }
    std::future<void> updateSchedule(bool enabled, std::int64_t minutes) override {
        log_.add("live summary settings " + std::string(enabled ? "on " : "off ") + std::to_string(minutes));
        return readyFuture();
    }
    std::future<void> updateProviderSettings(SummaryProvider provider, std::string,
                                             std::optional<std::string>,
                                             std::optional<std::string>) override {
        log_.add("live summary provider " + std::string(rawValue(provider)));
        return readyFuture();
    }
    std::future<void> setOutputLanguage(std::string language) override {
        log_.add("live summary language " + language);
        return readyFuture();
    }

  private:
    CallLog& log_;
};

class FakeMonitor final : public ScreenCaptureMonitoring {
  public:
    FakeMonitor(CallLog& log, int number) : log_(log), name_("monitor " + std::to_string(number)) {}
    std::future<void> start() override { return record("start"); }
    std::future<void> stop() override { return record("stop"); }
    std::future<void> updateDisplayID(std::uint32_t id) override {
        return record("display " + std::to_string(id));
    }
    std::future<void> updateCaptureRegion(std::optional<ScreenRect> region) override {
        return record(region ? "region " + std::to_string(static_cast<int>(region->x))
                             : std::string("region none"));
    }
    std::future<std::string> ocrContextJsonl(double) override {
        std::promise<std::string> promise;
        promise.set_value("");
        return promise.get_future();
    }
    std::future<std::optional<std::filesystem::path>> captureManualScreenshotOCR() override {
        record("manual screenshot");
        std::promise<std::optional<std::filesystem::path>> promise;
        promise.set_value(savedResult);
        return promise.get_future();
    }
    std::optional<std::filesystem::path> savedResult;

  private:
    std::future<void> record(const std::string& what) {
        log_.add(name_ + " " + what);
        return readyFuture();
    }
    CallLog& log_;
    std::string name_;
};

class FakeScreenCapture final : public ScreenCaptureMonitorFactory,
                                public DisplayDirectory,
                                public RegionPicker {
  public:
    explicit FakeScreenCapture(CallLog& log) : log_(log) {}
    std::shared_ptr<ScreenCaptureMonitoring>
    makeMonitor(const ScreenCaptureMonitorSettings& settings) override {
        made.push_back(settings);
        auto monitor = std::make_shared<FakeMonitor>(log_, static_cast<int>(made.size()));
        monitor->savedResult = savedResult;
        log_.add("made monitor " + std::to_string(made.size()) + " for display " +
                 std::to_string(settings.displayID));
        return monitor;
    }
    std::vector<AvailableDisplay> enumerate() override { return displays; }
    std::uint32_t mainDisplayID() override { return 1; }
    std::vector<DisplayScreen> screens() override { return screenList; }
    void pickRegion(const DisplayScreen& screen,
                    std::function<void(std::optional<ScreenRect>)> done) override {
        pickedOn = screen;
        completion = std::move(done);
    }

    std::vector<ScreenCaptureMonitorSettings> made;
    std::vector<AvailableDisplay> displays{{.id = 0, .name = "Built-in", .displayID = 1},
                                           {.id = 1, .name = "Side", .displayID = 7}};
    std::vector<DisplayScreen> screenList{
        {.displayID = 1, .frame = {.width = 1440, .height = 900}},
        {.displayID = 7, .frame = {.x = 1440, .width = 1920, .height = 1080}}};
    std::optional<std::filesystem::path> savedResult;
    std::optional<DisplayScreen> pickedOn;
    std::function<void(std::optional<ScreenRect>)> completion;

  private:
    CallLog& log_;
};

class FakeForeground final : public ForegroundActivityTracking {
  public:
    class Monitor final : public ForegroundAppSessionMonitor {
      public:
        explicit Monitor(CallLog& log) : log_(log) {}
        void subscribeToAppActivation() override { log_.add("foreground subscribe"); }
        void logForegroundAppChange(const RunningApplication& app) override {
            log_.add("foreground front " + app.name);
        }
        void startPolling() override { log_.add("foreground polling"); }
        std::future<void> stop() override {
            log_.add("foreground stop");
            return readyFuture();
        }

      private:
        CallLog& log_;
    };

    explicit FakeForeground(CallLog& log) : log_(log) {}
    std::shared_ptr<ForegroundAppSessionMonitor> makeMonitor(const std::filesystem::path& dir) override {
        log_.add("foreground monitor " + dir.filename().string());
        return std::make_shared<Monitor>(log_);
    }
    std::optional<RunningApplication> frontmostApplication() override { return front; }
    std::optional<RunningApplication> front = RunningApplication{.pid = 42, .name = "Meeting"};

  private:
    CallLog& log_;
};

// An alert presenter that keeps each alert open until the test closes it.
class HeldAlerts final : public ErrorAlertPresenter {
  public:
    void showCriticalAlert(const Alert& alert, std::function<void()> dismissed) override {
        messages.push_back(alert.message);
        if (holdOpen) {
            open.push_back(std::move(dismissed));
        } else {
            dismissed();
        }
    }
    void closeAll() {
        for (auto& dismissed : std::exchange(open, {}))
            dismissed();
    }
    bool holdOpen = false;
    std::vector<std::string> messages;
    std::vector<std::function<void()>> open;
};

// The recording controller's world for one test: a private sound server, a working folder, an
// application state whose main thread is the test's (run with pump()), a manual clock at
// 2025-01-31T09:15:00Z, and fakes of the queue and of every service, all reporting to `calls_`.
class ControllerFixture : public ::testing::Test {
  protected:
    using Clock = platform::Clock;

    ControllerFixture() {
        state_.setErrorAlertPresenter(alerts_);
        settings_.set("enableVoiceProcessing", platform::SettingsValue(false));
        config_.outputLanguage = "en";
        config_.transcription.language = "ja";
        config_.transcription.diarizationEnabled = true;
        config_.summary.provider = "local";
        config_.audio.micInputGain = 1.5;
        config_.audio.sysInputGain = 2.0;
        config_.liveSummary.enabled = true;
        config_.liveSummary.intervalMinutes = 5;
        config_.capture.foregroundActivityTrackingEnabled = true;
    }
    ~ControllerFixture() override {
        if (manager_) {
            // Whatever a test left running ends before the controller goes.
            bool stopped = false;
            manager_->stopRecordingForQuit([&] { stopped = true; });
            pumpUntil([&] { return stopped; });
            manager_.reset();
        }
    }

    RecordingServices allServices() {
        return {.liveTranscription = live_,
                .liveSummary = summary_,
                .screenCapture = screen_,
                .displays = screen_,
                .regionPicker = screen_,
                .foregroundActivity = foreground_};
    }

    AudioCaptureManager& manager() {
        if (!manager_) {
            AudioCaptureManager::Dependencies d;
            d.appState = &state_;
            d.mainDispatcher = &main_;
            d.settings = &settings_;
            d.clock = &clock_;
            d.gains = &gains_;
            d.queue = queue_;
            d.freezeConfig = [this] { return config_; };
            d.workingSessionsDir = [this] { return workingDir_; };
            d.openFile = [this](const std::filesystem::path& file) {
                calls_.add("open " + file.filename().string());
            };
            d.capture.mutes = &mutes_;
            d.capture.completionExecutor = &pool_;
            d.capture.reconnectInterval = std::chrono::milliseconds(300);
            d.services = services_;
            manager_ = std::make_unique<AudioCaptureManager>(std::move(d));
        }
        return *manager_;
    }

    // Runs the main thread's jobs until `done()` or the timeout (real time).
    template <class Done>
    bool pumpUntil(Done done, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        return main_.runUntil([&] { return done(); }, timeout);
    }

    std::optional<std::filesystem::path> start() {
        bool finished = false;
        std::optional<std::filesystem::path> started;
        manager().startRecording([&](std::optional<std::filesystem::path> dir) {
            started = std::move(dir);
            finished = true;
        });
        EXPECT_TRUE(pumpUntil([&] { return finished; }));
        return started;
    }
    void stop() {
        bool finished = false;
        manager().stopRecording([&] { finished = true; });
        EXPECT_TRUE(pumpUntil([&] { return finished; }));
    }
    void quit() {
        bool finished = false;
        manager().stopRecordingForQuit([&] { finished = true; });
        EXPECT_TRUE(pumpUntil([&] { return finished; }));
    }

    // Plays a tone into a sink and waits until it has been played.
    void play(const std::string& sink, int rate, int channels, double seconds) {
        const auto file = dir_ / ("play-" + std::to_string(played_++) + ".wav");
        ToneFiles::write(file, rate, channels, {{seconds, 440, 0.25}});
        PulseTestServer::run("paplay -d " + sink + " " + file.string());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }

    static std::size_t streamsOnServer() {
        platform::PulseClient client;
        client.connect();
        return client.sourceOutputs().size();
    }

    static std::vector<std::string> audioFiles(const std::filesystem::path& sessionDir) {
        std::vector<std::string> names;
        for (const auto& file : platform::listDirectory(sessionDir / "audio"))
            names.push_back(file.filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    static platform::Clock::WallTime at(const char* isoDate) { return *platform::parseIsoDate(isoDate); }

    PulseTestServer server_;
    TempDir dir_;
    std::filesystem::path workingDir_ = dir_ / "WorkingSessions";
    platform::SettingsStore settings_{dir_ / "settings.json"};
    platform::ManualClock clock_{platform::ManualClock().now(), at("2025-01-31T09:15:00Z")};
    platform::MainDispatcher main_;
    platform::ThreadPool pool_{2};
    AppState state_{AppState::Dependencies{&settings_, &clock_, &main_, &pool_}};
    std::shared_ptr<HeldAlerts> alerts_ = std::make_shared<HeldAlerts>();
    RecordingRuntimeSettings gains_;
    AudioMuteState mutes_;
    CallLog calls_;
    std::shared_ptr<FakeQueue> queue_ = std::make_shared<FakeQueue>(calls_);
    std::shared_ptr<FakeLiveTranscription> live_ = std::make_shared<FakeLiveTranscription>(calls_);
    std::shared_ptr<FakeLiveSummary> summary_ = std::make_shared<FakeLiveSummary>(calls_);
    std::shared_ptr<FakeScreenCapture> screen_ = std::make_shared<FakeScreenCapture>(calls_);
    std::shared_ptr<FakeForeground> foreground_ = std::make_shared<FakeForeground>(calls_);
    RecordingServices services_ = allServices();
    SessionConfig config_;
    std::unique_ptr<AudioCaptureManager> manager_;
    int played_ = 0;
};

} // namespace velnote::testing
