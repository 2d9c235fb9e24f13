#include "capture/recording/MicrophoneCapture.h"
#include "platform/logging/Logger.h"
#include "support/CaptureServiceFixture.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {
using testing::FeedRecorder;
using Segment = testing::ToneFiles::Segment;

class MicrophoneCaptureServiceTest : public testing::CaptureServiceFixture {};

TEST_F(MicrophoneCaptureServiceTest, ToneBecomesFramedChunksAndTheQuietMiddleIsDropped) {
    double loudestLevel = 0;
    auto token = state_.observe(AppStateField::micInputLevel, [&](AppStateField) {
        loudestLevel = std::max(loudestLevel, state_.micInputLevel());
    });
    FeedRecorder feed;
    {
        MicrophoneCapture mic(dir_.path(), std::nullopt, 0, dependencies(16000)); // 1 s chunks
        mic.onAudioBuffer = std::ref(feed);
        mic.start();
        play("mic", 16000, 1, {{1.5, 440, 0.25}, {2.5, 0, 0}, {1.5, 440, 0.25}});
        mic.stop();
    }
    const auto kept = chunks("mic_");
    ASSERT_GE(kept.size(), 3u);
    std::vector<std::int64_t> numbers;
    for (const auto& chunk : kept) {
        EXPECT_EQ(chunk.wav.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16) << chunk.name;
        EXPECT_EQ(chunk.wav.info.samplerate, 16000);
        EXPECT_EQ(chunk.wav.info.channels, 1);
        numbers.push_back(std::stoll(chunk.name.substr(4, 4)));
    }
    // Every chunk but the one open at stop ends with the delivery that crossed one second.
    for (std::size_t i = 0; i + 1 < kept.size(); ++i) {
        EXPECT_GE(kept[i].wav.info.frames, 16000) << kept[i].name;
        EXPECT_LT(kept[i].wav.info.frames, 16000 + 3200) << kept[i].name;
    }
    // At least one whole second of the pause was a chunk of its own, and its number stays free.
    EXPECT_GT(numbers.back() - numbers.front() + 1, static_cast<std::int64_t>(numbers.size()));

    // Nothing of the three seconds of tone is lost (|sin| > 0.12 for 92 % of the time).
    const double expected = 3.0 * 16000 * 0.922;
    EXPECT_NEAR(static_cast<double>(loudSamples(kept, 1000)), expected, expected * 0.02);
    const auto fed = feed.samples();
    EXPECT_NEAR(static_cast<double>(std::count_if(fed.begin(), fed.end(),
                                                  [](float s) { return std::abs(s) > 1000.0f / 32768; })),
                expected, expected * 0.02);
    EXPECT_EQ(feed.formats.front(), (platform::AudioFormat{16000, 1}));

    main_.runPending();
    EXPECT_GT(loudestLevel, 0.5); // -15 dBFS reads about 0.7
}

TEST_F(MicrophoneCaptureServiceTest, ChosenInputUnknownInputAndVoiceProcessing) {
    platform::LogCapture log;
    {
        MicrophoneCapture chosen(dir_.path(), "speaker.monitor", 0, dependencies());
        chosen.start();
        play("mic", 16000, 1, {{0.6, 440, 0.25}});
        play("speaker", 48000, 2, {{0.6, 440, 0.25}});
        chosen.stop();
    }
    EXPECT_NEAR(static_cast<double>(loudSamples(chunks("mic_"), 1000)), 0.6 * 16000 * 0.922, 400);
    const auto first = chunks("mic_").size();

    settings_.set("enableVoiceProcessing", platform::SettingsValue(true));
    MicrophoneCapture unknown(dir_.path(), "no-such-microphone", 0, dependencies());
    unknown.start();
    EXPECT_TRUE(log.contains("[MicCapture] device not found for uid=no-such-microphone, using default"));
    EXPECT_FALSE(unknown.voiceProcessingEnabled());
    EXPECT_TRUE(log.contains("[MicCapture] failed to set voice processing to"));
    play("mic", 16000, 1, {{0.6, 440, 0.25}});
    unknown.stop();

    // Starting again (the voice-processing switch) goes on with the numbers.
    testing::PulseTestServer::pactl("load-module module-filter-apply");
    unknown.start();
    EXPECT_TRUE(unknown.voiceProcessingEnabled());
    play("mic", 16000, 1, {{0.6, 440, 0.25}});
    unknown.stop();

    const auto all = chunks("mic_");
    EXPECT_NEAR(static_cast<double>(loudSamples(all, 1000)), 3 * 0.6 * 16000 * 0.922, 1200);
    EXPECT_GT(all.size(), first);
}

} // namespace
} // namespace velnote
