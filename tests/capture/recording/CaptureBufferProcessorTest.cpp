#include "capture/recording/CaptureBufferProcessor.h"

#include "capture/mixer/support/WavFixtures.h"
#include "platform/logging/Logger.h"
#include "support/TempDir.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace velnote {
namespace {
namespace fs = std::filesystem;
using testing::WavFixtures;

class CaptureBufferProcessorTest : public ::testing::Test {
  protected:
    CaptureBufferProcessor& processor(CaptureChannel channel = CaptureChannel::microphone) {
        auto chunks = std::make_unique<AudioChunkSequence>(
            dir_.path(), channel, 0, AudioChunkSequence::Options{.chunkFrames = 100000}, nullptr, nullptr);
        processor_ = std::make_unique<CaptureBufferProcessor>(
            channel, gains_, mutes_, std::move(chunks), [this](float level) { levels_.push_back(level); });
        processor_->setFeed([this](std::span<const float> samples, const platform::AudioFormat& format) {
            EXPECT_EQ(format, (platform::AudioFormat{16000, 1}));
            fed_.insert(fed_.end(), samples.begin(), samples.end());
        });
        return *processor_;
    }
    std::vector<short> written(const std::string& name) const {
        return WavFixtures::read(dir_ / "audio" / name).samples;
    }

    testing::TempDir dir_;
    RecordingRuntimeSettings gains_;
    AudioMuteState mutes_;
    std::unique_ptr<CaptureBufferProcessor> processor_;
    std::vector<float> fed_;
    std::vector<float> levels_;
};

TEST_F(CaptureBufferProcessorTest, GainScalesFileAndFeedClippedAtFullScaleWhileTheMeterSeesItUnclipped) {
    gains_.setMicInputGain(2.0);
    gains_.setSysInputGain(0.5); // the other channel's gain does not apply
    auto& mic = processor();
    const std::vector<float> input{0.25f, 0.6f, -0.7f, 0.0f};
    for (int i = 0; i < 3; ++i)
        mic.process(input, {16000, 1});
    mic.finish();

    EXPECT_EQ(std::vector<float>(fed_.begin(), fed_.begin() + 4),
              (std::vector<float>{0.5f, 1.0f, -1.0f, 0.0f}));
    const std::vector<short> samples = written("mic_0000.wav");
    ASSERT_EQ(samples.size(), 12u);
    EXPECT_NEAR(samples[0], 16384, 1);
    EXPECT_EQ(samples[1], 32767);
    EXPECT_LE(samples[2], -32767);
    ASSERT_EQ(levels_.size(), 1u);
    EXPECT_FLOAT_EQ(levels_[0], InputLevelMeter::normalizedLevel(input, 2.0, InputLevelMeter::kMicMaxGain));
}

TEST_F(CaptureBufferProcessorTest, GainOfOneWritesTheSamplesAsTheyCame) {
    auto& sys = processor(CaptureChannel::systemAudio);
    sys.process({0.1f, -0.2f, 0.3f}, {16000, 1});
    sys.finish();
    EXPECT_EQ(fed_, (std::vector<float>{0.1f, -0.2f, 0.3f}));
    const std::vector<short> samples = written("sys_0000.wav");
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_NEAR(samples[0], 3277, 1);
    EXPECT_NEAR(samples[1], -6554, 1);
    EXPECT_NEAR(samples[2], 9830, 1);
}

TEST_F(CaptureBufferProcessorTest, MutedChannelFeedsNothingWritesSilenceAndMetersZero) {
    for (const CaptureChannel channel : {CaptureChannel::microphone, CaptureChannel::systemAudio}) {
        fed_.clear();
        levels_.clear();
        mutes_.setMicMuted(channel == CaptureChannel::microphone);
        mutes_.setSysMuted(channel == CaptureChannel::systemAudio);
        auto& capture = processor(channel);
        for (int i = 0; i < 3; ++i)
            capture.process(std::vector<float>(1600, 0.5f), {16000, 1});
        ASSERT_TRUE(capture.chunks().currentChunk());
        const fs::path chunk = *capture.chunks().currentChunk();
        EXPECT_EQ(WavFixtures::read(chunk).samples, std::vector<short>(4800, 0));
        capture.finish();

        EXPECT_TRUE(fed_.empty()) << "muted audio reached the live transcription";
        EXPECT_EQ(levels_, std::vector<float>{0.0f});
        EXPECT_FALSE(fs::exists(chunk)) << "a chunk recorded while muted is silent";
    }
}

TEST_F(CaptureBufferProcessorTest, ResamplesEachStreamFormatAndFlushesTheTailAtTheEnd) {
    auto& mic = processor();
    std::vector<float> second(48000 * 2);
    for (std::size_t i = 0; i < 48000; ++i)
        second[2 * i] = second[2 * i + 1] = 0.3f * std::sin(2 * M_PI * 440 * i / 48000.0);
    for (std::size_t at = 0; at < second.size(); at += 9600) {
        mic.process({second.begin() + at, second.begin() + at + 9600}, {48000, 2});
    }
    mic.finish();
    EXPECT_NEAR(static_cast<double>(fed_.size()), 16000.0, 2.0);
    // A new stream in another format starts a new resampler.
    fed_.clear();
    mic.process(std::vector<float>(441, 0.2f), {44100, 1});
    mic.finish();
    EXPECT_NEAR(static_cast<double>(fed_.size()), 160.0, 2.0);
}

TEST_F(CaptureBufferProcessorTest, UnconvertibleBuffersAreDroppedWithOneLogLine) {
    platform::LogCapture log;
    auto& mic = processor();
    mic.process({0.5f, 0.5f}, {16000, 0});
    mic.process({0.5f, 0.5f}, {0, 1});
    mic.process({0.5f}, {16000, 1});
    EXPECT_EQ(fed_, std::vector<float>{0.5f});
    int lines = 0;
    for (const auto& record : log.records())
        lines += record.message.find("[MicCapture] failed to convert") == 0;
    EXPECT_EQ(lines, 1);
}

} // namespace
} // namespace velnote
