#pragma once

#include "app/state/AppState.h"
#include "capture/controls/AudioMuteState.h"
#include "capture/controls/RecordingRuntimeSettings.h"
#include "capture/mixer/support/WavFixtures.h"
#include "capture/recording/CaptureDependencies.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/ManualClock.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/fs/Files.h"
#include "platform/settings/SettingsStore.h"
#include "support/PulseTestServer.h"
#include "support/TempDir.h"
#include "support/ToneFiles.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace velnote::testing {

// A capture's world for one test: a private sound server, a session folder, and an application
// state of its own whose main thread is the test's (run it with pump()). Alerts are collected.
class CaptureServiceFixture : public ::testing::Test {
  protected:
    class Alerts : public ErrorAlertPresenter {
      public:
        void showCriticalAlert(const Alert& alert, std::function<void()> dismissed) override {
            messages.push_back(alert.message);
            dismissed();
        }
        std::vector<std::string> messages;
    };

    CaptureServiceFixture() {
        state_.setErrorAlertPresenter(alerts_);
        state_.setAudioMeterEnabled(true);
        settings_.set("enableVoiceProcessing", platform::SettingsValue(false));
    }

    CaptureDependencies dependencies(std::uint32_t chunkFrames = 16000) {
        CaptureDependencies d;
        d.appState = &state_;
        d.mainDispatcher = &main_;
        d.gains = &gains_;
        d.mutes = &mutes_;
        d.settings = &settings_;
        d.completionExecutor = &pool_;
        d.chunks.chunkFrames = chunkFrames;
        d.reconnectInterval = std::chrono::milliseconds(300);
        return d;
    }

    // Runs the main thread's jobs until `done()` or the timeout (real time).
    template <class Done>
    bool pumpUntil(Done done, std::chrono::milliseconds timeout = std::chrono::seconds(8)) {
        return main_.runUntil([&] { return done(); }, timeout);
    }
    void pump(std::chrono::milliseconds duration) {
        main_.runUntil([] { return false; }, duration);
    }

    // Plays a tone file into a sink and returns when it has been played.
    void play(const std::string& sink, int rate, int channels,
              const std::vector<ToneFiles::Segment>& segments) {
        const auto file = dir_ / ("play-" + std::to_string(played_++) + ".wav");
        ToneFiles::write(file, rate, channels, segments);
        PulseTestServer::run("paplay -d " + sink + " " + file.string());
        // The captures receive what was played in 100 ms deliveries: let the last one arrive.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }

    struct Chunk {
        std::string name;
        WavFixtures::Contents wav;
    };
    // The chunk files of one prefix, in name order.
    std::vector<Chunk> chunks(const std::string& prefix) const {
        std::vector<std::string> names;
        for (const auto& entry : platform::listDirectory(dir_ / "audio")) {
            const std::string name = entry.filename().string();
            if (name.rfind(prefix, 0) == 0)
                names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        std::vector<Chunk> result;
        for (const auto& name : names)
            result.push_back({name, WavFixtures::read(dir_ / "audio" / name)});
        return result;
    }
    static std::size_t loudSamples(const std::vector<Chunk>& chunks, short threshold) {
        std::size_t count = 0;
        for (const auto& chunk : chunks)
            count +=
                static_cast<std::size_t>(std::count_if(chunk.wav.samples.begin(), chunk.wav.samples.end(),
                                                       [&](short s) { return std::abs(s) > threshold; }));
        return count;
    }

    PulseTestServer server_;
    TempDir dir_;
    platform::SettingsStore settings_{dir_ / "settings.json"};
    platform::ManualClock clock_;
    platform::MainDispatcher main_;
    platform::ThreadPool pool_{2};
    AppState state_{AppState::Dependencies{&settings_, &clock_, &main_, &pool_}};
    std::shared_ptr<Alerts> alerts_ = std::make_shared<Alerts>();
    RecordingRuntimeSettings gains_;
    AudioMuteState mutes_;
    int played_ = 0;
};

// Collects what a capture feeds to the live transcription.
struct FeedRecorder {
    void operator()(std::span<const float> samples, const platform::AudioFormat& format) {
        std::lock_guard lock(mutex);
        formats.push_back(format);
        received.insert(received.end(), samples.begin(), samples.end());
    }
    std::vector<float> samples() {
        std::lock_guard lock(mutex);
        return received;
    }
    std::mutex mutex;
    std::vector<float> received;
    std::vector<platform::AudioFormat> formats;
};

} // namespace velnote::testing
