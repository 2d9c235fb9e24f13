#include "capture/recording/MicrophoneCapture.h"
#include "capture/recording/SystemAudioCapture.h"
#include "platform/audio/AudioServerError.h"
#include "platform/logging/Logger.h"
#include "support/CaptureServiceFixture.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {
using namespace std::chrono_literals;
using testing::FeedRecorder;
using testing::PulseTestServer;

class SystemAudioCaptureServiceTest : public testing::CaptureServiceFixture {
  protected:
    // Polls (running the main thread meanwhile) until `done()`.
    template <class Done> bool eventually(Done done) { return pumpUntil(done, 8s); }

    static std::size_t streamsOnServer() {
        platform::PulseClient client;
        client.connect();
        return client.sourceOutputs().size();
    }

    static double rms(const std::vector<float>& samples, std::size_t from, std::size_t to) {
        double sum = 0;
        for (std::size_t i = from; i < to; ++i)
            sum += samples[i] * samples[i];
        return std::sqrt(sum / static_cast<double>(to - from));
    }

    static constexpr double kToneShare = 16000 * 0.922; // samples above 0.03 per second of a 0.25 tone
};

TEST_F(SystemAudioCaptureServiceTest, ToneAboveSixteenKilohertzNyquistComesOutSilent) {
    FeedRecorder feed;
    {
        SystemAudioCapture capture(dir_.path(), dependencies());
        capture.onAudioBuffer = std::ref(feed);
        capture.start();
        play("speaker", 48000, 2, {{1.0, 12000, 0.5}, {1.0, 440, 0.5}});
        capture.stop();
    }
    const auto samples = feed.samples();
    const auto firstLoud =
        std::find_if(samples.begin(), samples.end(), [](float s) { return std::abs(s) > 0.1f; });
    ASSERT_NE(firstLoud, samples.end()) << "the in-band tone never arrived";
    const auto at = static_cast<std::size_t>(firstLoud - samples.begin());
    ASSERT_GT(at, 16000u);
    // The middle of the 12 kHz second, away from its start and end.
    EXPECT_LT(rms(samples, at - 12000, at - 4000), 0.0005); // below -66 dBFS; folded back it would be -9
    EXPECT_NEAR(rms(samples, at + 4000, at + 12000), 0.5 / std::sqrt(2.0), 0.01);
    EXPECT_EQ(feed.formats.front(), (platform::AudioFormat{16000, 1}));
}

TEST_F(SystemAudioCaptureServiceTest, SwitchingTheDefaultOutputRetargetsTheStream) {
    platform::LogCapture log;
    SystemAudioCapture capture(dir_.path(), dependencies());
    capture.start();
    EXPECT_EQ(capture.recordedOutput(), "speaker");

    PulseTestServer::pactl(
        "load-module module-null-sink sink_name=headset rate=44100 channels=2 norewinds=1");
    PulseTestServer::pactl("set-default-sink headset");
    ASSERT_TRUE(eventually([&] { return capture.recordedOutput() == "headset"; }));
    EXPECT_TRUE(log.contains("[SysCapture] default output device changed, restarting stream"));
    EXPECT_TRUE(log.contains("[SysCapture] stream restarted after device change"));

    play("headset", 44100, 2, {{1.0, 440, 0.25}});
    play("speaker", 48000, 2, {{1.0, 440, 0.25}}); // no longer recorded
    capture.stop();
    EXPECT_NEAR(static_cast<double>(loudSamples(chunks("sys_"), 1000)), kToneShare, kToneShare * 0.03);
    EXPECT_TRUE(alerts_->messages.empty());
}

TEST_F(SystemAudioCaptureServiceTest, LosingTheServerAlertsOnceAndBothCapturesComeBackWithIt) {
    MicrophoneCapture mic(dir_.path(), std::nullopt, 0, dependencies());
    SystemAudioCapture sys(dir_.path(), dependencies());
    mic.start();
    sys.start();
    play("mic", 16000, 1, {{0.5, 440, 0.25}});
    play("speaker", 48000, 2, {{0.5, 440, 0.25}});

    server_.stop();
    pump(1500ms); // several attempts to come back fail meanwhile
    EXPECT_EQ(
        alerts_->messages,
        (std::vector<std::string>{"Failed to restart system audio capture. Please check screen recording or "
                                  "audio recording permissions in System Settings."}));

    server_.start();
    ASSERT_TRUE(eventually([&] { return sys.recordedOutput() == "speaker" && streamsOnServer() == 2; }));
    play("mic", 16000, 1, {{0.5, 440, 0.25}});
    play("speaker", 48000, 2, {{0.5, 440, 0.25}});
    mic.stop();
    sys.stop();
    pump(100ms);

    EXPECT_EQ(alerts_->messages.size(), 1u);
    // Both halves of each side are there: nothing was overwritten by the restart.
    EXPECT_NEAR(static_cast<double>(loudSamples(chunks("mic_"), 1000)), kToneShare, kToneShare * 0.03);
    EXPECT_NEAR(static_cast<double>(loudSamples(chunks("sys_"), 1000)), kToneShare, kToneShare * 0.03);
}

TEST_F(SystemAudioCaptureServiceTest, AfterAFailedStartTheCaptureBeginsWhenTheServerComesWithoutOverwriting) {
    std::filesystem::create_directories(dir_ / "audio");
    testing::WavFixtures::writeConstant(dir_ / "audio" / "sys_0000.wav", 100,
                                        1234); // an earlier start's chunk
    server_.stop();

    SystemAudioCapture capture(dir_.path(), dependencies());
    EXPECT_THROW(capture.start(), platform::AudioServerError);
    server_.start();
    ASSERT_TRUE(eventually([&] { return capture.recordedOutput() == "speaker"; }));
    play("speaker", 48000, 2, {{0.5, 440, 0.25}});
    capture.stop();
    pump(100ms);

    const auto all = chunks("sys_");
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all[0].name, "sys_0000.wav");
    EXPECT_EQ(all[0].wav.samples, std::vector<short>(100, 1234));
    EXPECT_NEAR(static_cast<double>(loudSamples(all, 1000)), 0.5 * kToneShare + 100, 0.5 * kToneShare * 0.03);
    EXPECT_TRUE(alerts_->messages.empty()); // the failed start is the recording controller's to show
}

TEST_F(SystemAudioCaptureServiceTest, ManualRestartKeepsTheChunkAndStopDuringThePauseStartsNothing) {
    SystemAudioCapture capture(dir_.path(), dependencies(160000));
    capture.start();
    play("speaker", 48000, 2, {{0.3, 440, 0.25}});
    capture.manualRestart();
    EXPECT_EQ(capture.recordedOutput(), "speaker");
    play("speaker", 48000, 2, {{0.3, 440, 0.25}});

    // A restart under way when the capture stops gives up without a stream.
    std::thread restarting([&] { capture.manualRestart(); });
    std::this_thread::sleep_for(100ms);
    capture.stop();
    restarting.join();
    EXPECT_EQ(capture.recordedOutput(), "");
    EXPECT_EQ(streamsOnServer(), 0u);

    const auto all = chunks("sys_");
    ASSERT_EQ(all.size(), 1u); // one chunk across the restart
    EXPECT_NEAR(static_cast<double>(loudSamples(all, 1000)), 0.6 * kToneShare, 0.6 * kToneShare * 0.03);
}

} // namespace
} // namespace velnote
