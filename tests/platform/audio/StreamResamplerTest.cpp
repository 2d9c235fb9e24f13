#include "platform/audio/StreamResampler.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

namespace velnote::platform {
namespace {

std::vector<float> sine(int rate, int channels, double frequency, double amplitude, double seconds) {
    std::vector<float> samples;
    const auto frames = static_cast<std::size_t>(rate * seconds);
    for (std::size_t i = 0; i < frames; ++i) {
        const auto value = static_cast<float>(amplitude * std::sin(2 * M_PI * frequency * i / rate));
        samples.insert(samples.end(), static_cast<std::size_t>(channels), value);
    }
    return samples;
}

// Feeds `input` in uneven pieces, as a sound server would, then flushes.
std::vector<float> resampleInPieces(StreamResampler& resampler, const std::vector<float>& input) {
    const std::size_t channels = resampler.input().channels;
    const std::size_t pieces[] = {1, 4096, 333, 1365, 7, 2048};
    std::vector<float> out;
    std::size_t at = 0;
    for (std::size_t n = 0; at < input.size(); ++n) {
        const std::size_t take = std::min(pieces[n % std::size(pieces)] * channels, input.size() - at);
        const std::vector<float> part = resampler.process({input.begin() + at, input.begin() + at + take});
        out.insert(out.end(), part.begin(), part.end());
        at += take;
    }
    const std::vector<float> tail = resampler.flush();
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

double rms(const std::vector<float>& samples, std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += samples[i] * samples[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

TEST(StreamResamplerTest, StreamedToneKeepsLengthLevelAndPitchAcrossBuffers) {
    const std::vector<float> input = sine(48000, 2, 1000.0, 0.5, 1.0);
    StreamResampler streamed({48000, 2});
    const std::vector<float> out = resampleInPieces(streamed, input);

    ASSERT_NEAR(static_cast<double>(out.size()), 16000.0, 2.0);
    EXPECT_NEAR(rms(out, 4000, 12000), 0.5 / std::sqrt(2.0), 0.005);
    int crossings = 0;
    for (std::size_t i = 4001; i < 12000; ++i)
        crossings += (out[i - 1] < 0) != (out[i] < 0);
    EXPECT_NEAR(crossings, 1000, 4); // 0.5 s of 1 kHz

    // The resampler's state runs on across buffers: pieces give what one block gives.
    StreamResampler whole({48000, 2});
    std::vector<float> reference = whole.process(input);
    const std::vector<float> tail = whole.flush();
    reference.insert(reference.end(), tail.begin(), tail.end());
    ASSERT_EQ(reference.size(), out.size());
    for (std::size_t i = 0; i < out.size(); ++i)
        ASSERT_NEAR(out[i], reference[i], 1e-6) << i;
}

TEST(StreamResamplerTest, ToneAboveTheNewNyquistDoesNotFoldBack) {
    StreamResampler resampler({48000, 2});
    const std::vector<float> out = resampleInPieces(resampler, sine(48000, 2, 12000.0, 0.5, 1.0));
    float loudest = 0;
    for (std::size_t i = 1000; i < out.size() - 1000; ++i)
        loudest = std::max(loudest, std::abs(out[i]));
    EXPECT_LT(loudest, 0.0005f); // below -60 dBFS where a folded 4 kHz tone would be at -6
}

TEST(StreamResamplerTest, ChannelsAreAveragedAndTheWorkingRatePassesUnchanged) {
    StreamResampler stereo({16000, 2});
    EXPECT_EQ(stereo.process({0.5f, 0.1f, -1.0f, 1.0f, 0.25f, 0.25f}),
              (std::vector<float>{0.3f, 0.0f, 0.25f}));
    EXPECT_TRUE(stereo.flush().empty());

    StreamResampler mono({16000, 1});
    EXPECT_EQ(mono.process({0.1f, -0.2f, 0.3f}), (std::vector<float>{0.1f, -0.2f, 0.3f}));
}

TEST(StreamResamplerTest, FormatWithoutRateOrChannelsIsRefused) {
    EXPECT_THROW(StreamResampler({0, 2}), std::invalid_argument);
    EXPECT_THROW(StreamResampler({48000, 0}), std::invalid_argument);
}

} // namespace
} // namespace velnote::platform
