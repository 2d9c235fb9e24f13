#include "engine/foundation/support/LogLines.h"
#include "engine/speech/WhisperError.h"
#include "engine/speech/audio/AudioProcessor.h"
#include "support/TempDir.h"
#include "support/TestAudio.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <numeric>
#include <sndfile.h>
#include <sys/stat.h>

namespace vocalith {
namespace {

using basalith::testing::LogLines;
using testing::TestAudio;
using velnote::testing::TempDir;
using Level = basalith::Logging::LogLevel;
using Sum = AudioInputConfig::SumChannels;
using Specific = AudioInputConfig::SpecificChannel;

float peakOf(const std::vector<float>& samples, std::size_t from = 0, std::size_t to = SIZE_MAX) {
    float peak = 0;
    for (std::size_t i = from; i < std::min(to, samples.size()); ++i)
        peak = std::max(peak, std::fabs(samples[i]));
    return peak;
}

// The largest distance between `samples` and the ideal 16 kHz sine, away from both ends (where the
// resampler sees the signal start and stop).
double maxErrorAgainstSine(const std::vector<float>& samples, double frequency, double amplitude,
                           std::size_t* worstIndex = nullptr) {
    double worst = 0;
    for (std::size_t i = 400; i + 400 < samples.size(); ++i) {
        const double ideal = amplitude * std::sin(2 * M_PI * frequency * static_cast<double>(i) / 16000.0);
        const double error = std::fabs(samples[i] - ideal);
        if (error > worst) {
            worst = error;
            if (worstIndex)
                *worstIndex = i;
        }
    }
    return worst;
}

std::string messageOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        return caught.what();
    }
}

class AudioLoadingTest : public ::testing::Test {
  protected:
    TempDir dir;
};

TEST_F(AudioLoadingTest, SixteenKilohertzMonoIsReadAsItIsWhateverTheChannelMode) {
    const auto samples = TestAudio::tone(1.5, 16000, 300, 0.7);
    TestAudio::writeMono(dir / "a.wav", 16000, samples);
    EXPECT_EQ(AudioProcessor::loadAudioAsFloatArray((dir / "a.wav").string()), samples);
    EXPECT_EQ(AudioProcessor::loadAudioAsFloatArray((dir / "a.wav").string(), Specific{3}), samples);
}

// Output lengths follow the capacity rule (frames × 16000 ÷ rate, halves to even) for the rates and
// layouts recordings come in; the mix keeps the louder channel's peak.
TEST_F(AudioLoadingTest, ResampledLengthsAndPeaksForCommonRatesAndLayouts) {
    struct Case {
        int rate;
        int channels;
        std::int64_t frames;
        std::size_t expected;
    };
    const Case cases[] = {
        {8000, 1, 8000, 16000},   {11025, 2, 11025, 16000}, {22050, 1, 22051, 16001},
        {32000, 2, 32005, 16002}, {44100, 2, 44100, 16000}, {48000, 1, 48001, 16000},
        {48000, 6, 24000, 8000},  {96000, 2, 96000, 16000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.rate << " Hz, " << c.channels << " channels");
        const auto path = dir / ("tone" + std::to_string(c.rate) + "_" + std::to_string(c.channels) + ".wav");
        // Channel k at a fifth of the loudest's level per step down, the last one loudest.
        TestAudio::write(path, c.rate, c.channels, c.frames, [&](std::int64_t frame, int channel) {
            const double gain = 0.8 * (channel + 1) / c.channels;
            return static_cast<float>(gain * std::sin(2 * M_PI * 440 * static_cast<double>(frame) / c.rate));
        });
        const auto samples = AudioProcessor::loadAudioAsFloatArray(path.string());
        ASSERT_EQ(samples.size(), c.expected);
        EXPECT_NEAR(peakOf(samples, 400, samples.size() - 400), 0.8f, 0.01f);
        const PcmBuffer buffer = AudioProcessor::loadAudio(path.string());
        EXPECT_EQ(buffer.format(), PcmFormat::working());
        EXPECT_EQ(buffer.frameLength(), c.expected);
    }
}

// 44.1 kHz stereo read in pieces of 1,323,000 frames: each piece is exactly 480,000 output frames,
// and the signal runs on across the piece boundary as if read in one go.
TEST_F(AudioLoadingTest, ReadPiecesJoinWithoutDiscontinuity) {
    const auto path = dir / "long.wav";
    TestAudio::writeTone(path, 44100, 2, 60.0, {1.0, 0.25}, 440, 0.5, SF_FORMAT_PCM_16);
    const PcmBuffer buffer = AudioProcessor::loadAudio(path.string(), Sum{}, 0.0, std::nullopt, 1323000);
    ASSERT_EQ(buffer.frameLength(), 960000u);
    const std::vector<float> samples(buffer.channelData(0), buffer.channelData(0) + buffer.frameLength());
    std::size_t worst = 0;
    EXPECT_LT(maxErrorAgainstSine(samples, 440, 0.5, &worst), 2e-3) << "at sample " << worst;

    // Small reads put many boundaries in a short file; none of them shows.
    TestAudio::writeTone(dir / "short.wav", 48000, 1, 2.0, {}, 1000, 0.5);
    const PcmBuffer small =
        AudioProcessor::loadAudio((dir / "short.wav").string(), Sum{}, 0.0, std::nullopt, 777);
    const std::vector<float> smallSamples(small.channelData(0), small.channelData(0) + small.frameLength());
    EXPECT_EQ(smallSamples.size(), 32000u);
    EXPECT_LT(maxErrorAgainstSine(smallSamples, 1000, 0.5, &worst), 2e-3) << "at sample " << worst;
}

// A file longer than 600 s is decoded in two pieces; the resampler's state carries across them, so
// the join at 600 s leaves no click, and nothing of the half second after it is lost.
TEST_F(AudioLoadingTest, SixHundredSecondPiecesJoinWithoutDiscontinuity) {
    const auto exact = dir / "exact.wav";
    const auto longer = dir / "longer.wav";
    TestAudio::writeTone(exact, 8000, 1, 600.0, {}, 440, 0.5, SF_FORMAT_PCM_16);
    TestAudio::writeTone(longer, 8000, 1, 600.5, {}, 440, 0.5, SF_FORMAT_PCM_16);
    auto piecesOf = [](const LogLines& log) {
        const auto lines = log.lines();
        return std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
            return line.starts_with("Audio buffer details");
        });
    };
    {
        LogLines log(Level::debug);
        EXPECT_EQ(AudioProcessor::loadAudioAsFloatArray(exact.string()).size(), 9600000u);
        EXPECT_EQ(piecesOf(log), 1);
    }
    LogLines log(Level::debug);
    const auto samples = AudioProcessor::loadAudioAsFloatArray(longer.string());
    EXPECT_EQ(piecesOf(log), 2);
    ASSERT_EQ(samples.size(), 9608000u);
    std::size_t worst = 0;
    // 16-bit input: the ideal sine is met to within quantisation and the resampler's ripple.
    EXPECT_LT(maxErrorAgainstSine(samples, 440, 0.5, &worst), 2e-3) << "at sample " << worst;
}

TEST_F(AudioLoadingTest, RangesAreClampedAndEmptyRangesGiveNoSamples) {
    const auto samples = TestAudio::tone(3.0, 16000);
    const auto path = (dir / "three.wav").string();
    TestAudio::writeMono(path, 16000, samples);
    const auto middle = AudioProcessor::loadAudioAsFloatArray(path, Sum{}, 1.0, 2.0);
    EXPECT_EQ(middle, std::vector<float>(samples.begin() + 16000, samples.begin() + 32000));
    EXPECT_EQ(AudioProcessor::loadAudioAsFloatArray(path, Sum{}, 2.5, 99.0).size(), 8000u);
    EXPECT_EQ(AudioProcessor::loadAudioAsFloatArray(path, Sum{}, -1.0, 0.5).size(), 8000u);
    EXPECT_TRUE(AudioProcessor::loadAudioAsFloatArray(path, Sum{}, 3.0, std::nullopt).empty());
    EXPECT_TRUE(AudioProcessor::loadAudioAsFloatArray(path, Sum{}, 1e300, std::nullopt).empty());
    EXPECT_TRUE(AudioProcessor::loadAudioAsFloatArray(path, Sum{}, 2.0, 1.0).empty());
    EXPECT_EQ(AudioProcessor::loadAudio(path, Sum{}, 2.0, 1.0).frameLength(), 0u);
    EXPECT_EQ(AudioProcessor::loadAudioAsFloatArray(path, Sum{}, 0.0, INFINITY).size(), 48000u);
    EXPECT_THROW(AudioProcessor::loadAudioAsFloatArray(path, Sum{}, NAN, std::nullopt), WhisperError);
}

TEST_F(AudioLoadingTest, MissingUnreadableAndTruncatedFiles) {
    const std::string missing = (dir / "missing.wav").string();
    try {
        AudioProcessor::loadAudioAsFloatArray(missing);
        ADD_FAILURE() << "loaded a missing file";
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.errorCase(), WhisperError::Case::loadAudioFailed);
        EXPECT_EQ(error.message(), "Resource path does not exist " + missing);
    }
    // A NUL would otherwise cut the path down to a file that exists.
    TestAudio::writeMono(dir / "real.wav", 16000, TestAudio::tone(0.1, 16000));
    EXPECT_THROW(AudioProcessor::loadAudio((dir / "real.wav").string() + std::string("\0x", 2)),
                 WhisperError);

    std::ofstream(dir / "text.wav") << "not audio at all";
    EXPECT_THROW(AudioProcessor::loadAudioAsFloatArray((dir / "text.wav").string()), AudioFileError);
    // A FIFO in the file's place is refused at once: no writer is waited for.
    ASSERT_EQ(::mkfifo((dir / "fifo.wav").c_str(), 0600), 0);
    EXPECT_THROW(AudioProcessor::loadAudioAsFloatArray((dir / "fifo.wav").string()), AudioFileError);

    // A rate far below any sound: 600 KB of it would become 19 GB of samples at 16 kHz.
    TestAudio::writeMono(dir / "slow.wav", 1, std::vector<float>(300000));
    for (const auto& load : std::vector<std::function<void()>>{
             [&] { AudioProcessor::loadAudioAsFloatArray((dir / "slow.wav").string()); },
             [&] { AudioProcessor::loadAudio((dir / "slow.wav").string()); }}) {
        try {
            load();
            ADD_FAILURE() << "loaded a 1 Hz file";
        } catch (const WhisperError& error) {
            EXPECT_EQ(error.errorCase(), WhisperError::Case::loadAudioFailed);
            EXPECT_THAT(error.message(), ::testing::HasSubstr("sample rate 1 Hz"));
        }
    }

    // A WAV cut short mid-data: what is there is loaded.
    TestAudio::writeTone(dir / "cut.wav", 44100, 2, 1.0);
    std::filesystem::resize_file(dir / "cut.wav", std::filesystem::file_size(dir / "cut.wav") / 2);
    const auto samples = AudioProcessor::loadAudioAsFloatArray((dir / "cut.wav").string());
    EXPECT_GT(samples.size(), 7000u);
    EXPECT_LT(samples.size(), 9000u);

    // A compressed file whose header claims 2^32 - 1 frames but holds 1600: what is there is loaded,
    // and no room is made for the rest.
    {
        SF_INFO info{};
        info.samplerate = 16000;
        info.channels = 1;
        info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> flac(
            sf_open((dir / "lying.flac").c_str(), SFM_WRITE, &info), sf_close);
        ASSERT_TRUE(flac);
        const std::vector<short> tone(1600, 1000);
        sf_writef_short(flac.get(), tone.data(), 1600);
    }
    std::fstream flac(dir / "lying.flac", std::ios::in | std::ios::out | std::ios::binary);
    flac.seekg(18); // the stream information's last 36 bits count the frames
    std::array<unsigned char, 8> field{};
    flac.read(reinterpret_cast<char*>(field.data()), 8);
    field[3] &= 0xf0; // the top 4 of the 36 bits clear: the most a file may hold
    std::fill(field.begin() + 4, field.end(), 0xff);
    flac.seekp(18);
    flac.write(reinterpret_cast<const char*>(field.data()), 8);
    flac.close();
    const auto held = AudioProcessor::loadAudioAsFloatArray((dir / "lying.flac").string());
    EXPECT_EQ(held.size(), 1600u);
    EXPECT_LT(held.capacity(), 16000u * 601u);

    EXPECT_THROW(AudioProcessor::loadAudioAsync(missing).get(), WhisperError);
}

TEST_F(AudioLoadingTest, BatchLoadKeepsPathOrderAndReportsEachFailure) {
    std::vector<std::string> paths;
    for (int i = 0; i < 6; ++i) {
        paths.push_back((dir / ("f" + std::to_string(i) + ".wav")).string());
        TestAudio::writeTone(paths.back(), i % 2 ? 48000 : 16000, 1, 0.5 + 0.25 * (5 - i));
    }
    paths.insert(paths.begin() + 2, (dir / "none.wav").string());
    const auto outcomes = AudioProcessor::loadAudio(paths, Sum{});
    ASSERT_EQ(outcomes.size(), 7u);
    EXPECT_EQ(messageOf(std::get<std::exception_ptr>(outcomes[2])),
              "Resource path does not exist " + paths[2]);
    const std::size_t expected[] = {28000, 24000, 0, 20000, 16000, 12000, 8000};
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        if (i != 2) {
            EXPECT_EQ(std::get<std::vector<float>>(outcomes[i]).size(), expected[i]) << "path " << i;
        }
    }
}

PcmBuffer stereo(const std::vector<float>& left, const std::vector<float>& right, double rate = 16000) {
    auto buffer = *PcmBuffer::make({rate, 2}, static_cast<std::uint32_t>(left.size()));
    std::copy(left.begin(), left.end(), buffer.channelData(0));
    std::copy(right.begin(), right.end(), buffer.channelData(1));
    buffer.setFrameLength(static_cast<std::uint32_t>(left.size()));
    return buffer;
}

std::vector<float> monoOf(const PcmBuffer& buffer) {
    return {buffer.channelData(0), buffer.channelData(0) + buffer.frameLength()};
}

TEST(AudioMixingTest, ChannelModes) {
    const std::vector<float> left{0.1f, -0.4f, 0.2f, 0.0f};
    const std::vector<float> right{0.3f, 0.5f, -0.6f, 0.1f};
    const PcmBuffer buffer = stereo(left, right);
    EXPECT_EQ(monoOf(*AudioProcessor::convertToMono(buffer, Specific{1})), right);
    EXPECT_EQ(monoOf(*AudioProcessor::convertToMono(buffer, Specific{5})), left);
    {
        LogLines log(Level::debug);
        EXPECT_EQ(monoOf(*AudioProcessor::convertToMono(buffer, Sum{std::vector<int>{7, 9}})), left);
        EXPECT_TRUE(log.contains("No valid channel indices provided, defaulting to first channel"));
    }
    // Channel 1 twice, scaled back to its own peak: channel 1 itself.
    const auto twice = monoOf(*AudioProcessor::convertToMono(buffer, Sum{std::vector<int>{1, 1}}));
    for (std::size_t i = 0; i < right.size(); ++i)
        EXPECT_FLOAT_EQ(twice[i], right[i]);
    // All channels (no list, or an empty one): the sum scaled to the louder channel's peak, 0.6.
    for (const auto& mode : {ChannelMode{Sum{}}, ChannelMode{Sum{std::vector<int>{}}}}) {
        const auto mixed = monoOf(*AudioProcessor::convertToMono(buffer, mode));
        const float scale = 0.6f / 0.4f; // the sum's peak is |0.2 - 0.6|
        for (std::size_t i = 0; i < left.size(); ++i)
            EXPECT_FLOAT_EQ(mixed[i], (left[i] + right[i]) * scale);
    }
    const auto silent = monoOf(*AudioProcessor::convertToMono(stereo({0, 0}, {0, 0}), Sum{}));
    EXPECT_EQ(silent, (std::vector<float>{0, 0}));
}

TEST(AudioResamplingTest, BufferCapacityRule) {
    struct Case {
        double rate;
        std::uint32_t frames;
        std::uint32_t expected;
        bool rounds;
    };
    const Case cases[] = {{48000, 1600, 533, true},
                          {32000, 3, 2, true},
                          {32000, 5, 2, true},
                          {48000, 1, 1, true},
                          {48000, 4800, 1600, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.frames << " frames at " << c.rate);
        auto buffer = *PcmBuffer::make({c.rate, 1}, c.frames);
        std::fill_n(buffer.channelData(0), c.frames, 0.25f);
        buffer.setFrameLength(c.frames);
        LogLines log(Level::debug);
        const auto converted = AudioProcessor::resampleAudio(buffer, 16000, 1);
        ASSERT_TRUE(converted);
        EXPECT_EQ(converted->frameLength(), c.expected);
        const auto lines = log.lines();
        const bool rounded = std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
            return line.starts_with("Rounding buffer frame capacity from ");
        });
        EXPECT_EQ(rounded, c.rounds);
    }
    // Channels are mixed before conversion, never by the converter.
    EXPECT_FALSE(AudioProcessor::resampleAudio(stereo({0.1f}, {0.1f}, 48000), 16000, 1));
}

TEST(PcmBufferTest, AppendShortensToTheFreeRoomAndRefusesOtherFormats) {
    auto destination = *PcmBuffer::make({16000, 1}, 5);
    auto source = *PcmBuffer::make({16000, 1}, 4);
    std::iota(source.channelData(0), source.channelData(0) + 4, 1.0f);
    source.setFrameLength(4);
    EXPECT_TRUE(destination.appendContents(source, 1, 3));
    EXPECT_TRUE(destination.appendContents(source, 0, 4)); // only 2 fit
    EXPECT_EQ(monoOf(destination), (std::vector<float>{2, 3, 4, 1, 2}));
    EXPECT_FALSE(destination.appendContents(source, 2, 3)); // the source holds only 4
    const auto other = *PcmBuffer::make({48000, 1}, 4);
    EXPECT_FALSE(destination.appendContents(other, 0, 0));

    // Copying samples out clears them in the buffer.
    const auto copied = AudioProcessor::convertBufferToArray(source, 3);
    EXPECT_EQ(copied, (std::vector<float>{1, 2, 3, 4}));
    EXPECT_EQ(monoOf(source), (std::vector<float>{0, 0, 0, 0}));
}

TEST(WindowCutTest, PadsTrimsAndRefusesStartsOutside) {
    const std::vector<float> samples{1, 2, 3, 4, 5};
    auto values = [](const basalith::MultiArray& array) { return array.toFloatArray(); };
    EXPECT_EQ(values(*AudioProcessor::padOrTrimAudio(samples, 3, 4)), (std::vector<float>{4, 5, 0, 0}));
    EXPECT_EQ(values(*AudioProcessor::padOrTrimAudio(samples, 1, 2)), (std::vector<float>{2, 3}));
    LogLines log(Level::error);
    EXPECT_FALSE(AudioProcessor::padOrTrimAudio(samples, 5, 4));
    EXPECT_FALSE(AudioProcessor::padOrTrimAudio(samples, -1, 4));
    EXPECT_FALSE(AudioProcessor::padOrTrimAudio({}, 0, 4));
    EXPECT_EQ(log.lines(), std::vector<std::string>(3, "startIndex is outside the buffer size"));
    EXPECT_FALSE(AudioProcessor::padOrTrimAudio(samples, 0, 0));
}

TEST(ChannelModeJsonTest, OneKeyNamingTheCase) {
    auto write = [](const ChannelMode& mode) {
        Json json;
        to_json(json, mode);
        return json;
    };
    EXPECT_EQ(write(Specific{2}), Json::parse(R"({"specificChannel": {"_0": 2}})"));
    EXPECT_EQ(write(Sum{std::vector<int>{0, 1}}), Json::parse(R"({"sumChannels": {"_0": [0, 1]}})"));
    EXPECT_EQ(write(Sum{}), Json::parse(R"({"sumChannels": {}})"));
    auto read = [](const Json& json) {
        ChannelMode mode;
        from_json(json, mode);
        return mode;
    };
    for (const ChannelMode& mode :
         {ChannelMode{Specific{2}}, ChannelMode{Sum{std::vector<int>{}}}, ChannelMode{Sum{}}})
        EXPECT_EQ(read(write(mode)), mode);
    for (const char* bad :
         {R"({"specificChannel": {}})", R"({"specificChannel": {"_0": 2.5}})",
          R"({"specificChannel": {"_0": 1e999}})", R"({"sumChannels": {"_0": [1e999]}})",
          R"({"sumChannels": {}, "specificChannel": {"_0": 1}})", R"({"other": {}})", "[]"}) {
        SCOPED_TRACE(bad);
        Json json;
        try {
            json = Json::parse(bad);
        } catch (const std::exception&) {
            continue; // the parser itself refuses it
        }
        EXPECT_THROW(read(json), JsonDecodeError);
    }
}

} // namespace
} // namespace vocalith
