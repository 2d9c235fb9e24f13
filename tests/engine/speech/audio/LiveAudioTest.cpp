#include "engine/foundation/support/LogLines.h"
#include "engine/speech/audio/AudioProcessor.h"

#include <cmath>
#include <gtest/gtest.h>
#include <stdexcept>

namespace vocalith {
namespace {

using basalith::testing::LogLines;

// A processor whose buffers come from the test instead of the sound server.
class FedProcessor : public AudioProcessor {
  public:
    void feed(const std::vector<float>& samples) { processBuffer(samples); }
};

std::vector<float> constant(float value, std::size_t count = 1600) {
    return std::vector<float>(count, value);
}

TEST(LiveAudioTest, RelativeEnergyPlacesALevelBetweenReferenceAndFullScale) {
    EXPECT_FLOAT_EQ(AudioProcessor::calculateRelativeEnergy(constant(0.001f), std::nullopt), 0.0f);
    EXPECT_NEAR(AudioProcessor::calculateRelativeEnergy(constant(0.01f), std::nullopt), 1.0f / 3, 1e-5);
    EXPECT_FLOAT_EQ(AudioProcessor::calculateRelativeEnergy(constant(1.0f), std::nullopt), 1.0f);
    EXPECT_FLOAT_EQ(AudioProcessor::calculateRelativeEnergy(constant(0.0f), std::nullopt), 0.0f);
    EXPECT_FLOAT_EQ(AudioProcessor::calculateRelativeEnergy(constant(0.1f), 0.1f), 0.0f);
    EXPECT_NEAR(AudioProcessor::calculateRelativeEnergy(constant(0.1f), 0.01f), 0.5f, 1e-5);
    EXPECT_FLOAT_EQ(AudioProcessor::calculateRelativeEnergy(constant(0.1f), INFINITY), 0.0f);
    const auto energy = AudioProcessor::calculateEnergy({0.5f, -0.25f, 0.1f});
    EXPECT_FLOAT_EQ(energy.max, 0.5f);
    EXPECT_FLOAT_EQ(energy.min, 0.1f);
    EXPECT_NEAR(energy.avg, std::sqrt((0.25 + 0.0625 + 0.01) / 3), 1e-6);
    EXPECT_EQ(AudioProcessor::calculateEnergy({}), AudioEnergy{});
}

TEST(LiveAudioTest, VoiceDetectionLooksAtTheOlderPartOfTheNewestBuffers) {
    // 30 energies; only position `loud` is above the threshold.
    auto energiesWithLoudAt = [](std::size_t loud) {
        std::vector<float> energies(30, 0.1f);
        energies[loud] = 0.9f;
        return energies;
    };
    struct Case {
        float seconds;
        std::size_t loud;
        bool detected;
    };
    const Case cases[] = {
        {2.0f, 10, true},   // the newest 20 start at 10; the first 10 of them are looked at
        {2.0f, 19, true},   //
        {2.0f, 20, false},  // the newer half is not
        {2.0f, 9, false},   // older than the newest 20
        {0.5f, 25, true},   // the newest 5, all of them
        {0.5f, 29, true},   //
        {0.5f, 24, false},  //
        {1.5f, 24, true},   // the newest 15 start at 15; their first 10 end at 24
        {1.5f, 25, false},  //
        {-1.0f, 29, false}, // no buffers at all
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AudioProcessor::isVoiceDetected(energiesWithLoudAt(c.loud), c.seconds, 0.3f), c.detected)
            << c.seconds << " s, loud at " << c.loud;
    }
    EXPECT_FALSE(AudioProcessor::isVoiceDetected({0.3f, 0.3f}, 1.0f, 0.3f)); // strictly above
    EXPECT_FALSE(AudioProcessor::isVoiceDetected({}, 2.0f, 0.3f));
}

TEST(LiveAudioTest, EachBufferIsMeasuredAgainstTheQuietestRecentOne) {
    FedProcessor processor;
    std::size_t delivered = 0;
    processor.setAudioBufferCallback([&](const std::vector<float>& samples) { delivered += samples.size(); });
    processor.feed(constant(0.5f));  // the first: nothing to compare with
    processor.feed(constant(0.01f)); // quieter than the reference: 0
    processor.feed(constant(0.01f)); // as loud as the quietest recent: 0
    processor.feed(constant(0.1f));  // halfway in decibels between 0.01 and full scale
    processor.feed(constant(1.0f));  // full scale
    const auto energies = processor.relativeEnergy();
    ASSERT_EQ(energies.size(), 5u);
    EXPECT_FLOAT_EQ(energies[0], 0.0f);
    EXPECT_FLOAT_EQ(energies[1], 0.0f);
    EXPECT_FLOAT_EQ(energies[2], 0.0f);
    EXPECT_NEAR(energies[3], 0.5f, 1e-5);
    EXPECT_FLOAT_EQ(energies[4], 1.0f);
    EXPECT_EQ(processor.audioEnergy()[0], (AudioEnergy{.rel = 0, .avg = 0.5f, .max = 0.5f, .min = 0.5f}));
    EXPECT_EQ(delivered, 8000u);

    // Only the newest 20 records count: a quiet buffer 21 buffers back no longer does.
    for (int i = 0; i < 20; ++i)
        processor.feed(constant(0.1f));
    processor.feed(constant(0.1f));
    EXPECT_FLOAT_EQ(processor.relativeEnergy().back(), 0.0f);

    processor.purgeAudioSamples(100);
    EXPECT_EQ(processor.audioSamples().size(), 100u);
    processor.purgeAudioSamples(1000);
    processor.purgeAudioSamples(-1);
    EXPECT_EQ(processor.audioSamples().size(), 100u);
    EXPECT_EQ(processor.relativeEnergy().size(), 26u);
}

TEST(LiveAudioTest, ProgressLineAtEveryWholeWindowOfSamples) {
    FedProcessor processor;
    processor.setMinBufferLength(100);
    processor.setRelativeEnergyWindow(2);
    LogLines log;
    processor.feed(constant(0.5f, 100));
    processor.feed(constant(0.5f, 100));
    processor.feed(constant(0.5f, 150));
    processor.feed(constant(0.5f, 50));
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              "Current audio size: 200 samples, most recent buffer: 100 samples, most recent energy: "
              "(0.0, 0.5, 0.5, 0.5)");
    EXPECT_TRUE(lines[1].starts_with("Current audio size: 400 samples, most recent buffer: 50 samples"));
}

// The waveform is drawn from the samples there are: three samples on a wide picture do not read
// past the end of the array (the sanitizer would stop the test).
TEST(LiveAudioTest, WaveformFromTheSamplesItHas) {
    const auto image = AudioProcessor::createWaveformImage({1.0f, 0.0f, -1.0f}, 30, 11);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 30);
    EXPECT_EQ(image->height, 11);
    auto dark = [&](int x, int y) { return image->pixel(x, y)[0] < 0x80; };
    // Columns 0-9 show the first sample (full scale up), 10-19 the second (the middle line), 20-29
    // the third (full scale down).
    EXPECT_TRUE(dark(0, 0));
    EXPECT_FALSE(dark(0, 10));
    EXPECT_TRUE(dark(15, 5));
    EXPECT_FALSE(dark(15, 0));
    EXPECT_TRUE(dark(29, 10));
    EXPECT_FALSE(dark(29, 0));

    // More samples than columns: each column spans its share, here a full swing.
    const auto dense = AudioProcessor::createWaveformImage({1.0f, -1.0f, 1.0f, -1.0f}, 2, 5);
    EXPECT_TRUE(dense->pixel(1, 0)[0] < 0x80 && dense->pixel(1, 4)[0] < 0x80);

    const auto blank = AudioProcessor::createWaveformImage({}, 4, 4);
    ASSERT_TRUE(blank);
    EXPECT_EQ(blank->pixels, std::vector<std::uint8_t>(48, 0xff));
    EXPECT_FALSE(AudioProcessor::createWaveformImage({0.5f}, 0, 4));
    EXPECT_FALSE(AudioProcessor::createWaveformImage({0.5f}, 4, 1e99));
    EXPECT_FALSE(AudioProcessor::createWaveformImage({0.5f}, NAN, 4));
}

TEST(AudioSampleStreamTest, ArraysThenTheEndOrTheError) {
    auto [stream, continuation] = AudioSampleStream::make();
    int terminations = 0;
    continuation->setOnTermination([&] { ++terminations; });
    continuation->yield({1, 2});
    continuation->yield({3});
    continuation->finish(std::make_exception_ptr(std::runtime_error("server gone")));
    continuation->yield({4}); // after the end: dropped
    EXPECT_EQ(stream->next(), (std::vector<float>{1, 2}));
    EXPECT_EQ(stream->next(), (std::vector<float>{3}));
    EXPECT_THROW(stream->next(), std::runtime_error);
    stream.reset();
    EXPECT_EQ(terminations, 1);

    auto [other, feed] = AudioSampleStream::make();
    feed->setOnTermination([&] { ++terminations; });
    EXPECT_EQ(other->tryNext(), std::nullopt);
    other.reset(); // the consumer went away
    EXPECT_EQ(terminations, 2);
    feed->finish();
    EXPECT_EQ(terminations, 2);
}

} // namespace
} // namespace vocalith
