#include "capture/mixer/AudioChunkMixer.h"

#include "capture/mixer/AudioChunkNames.h"
#include "capture/mixer/AudioFileError.h"
#include "platform/logging/Logger.h"
#include "support/TempDir.h"
#include "support/WavFixtures.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velnote {
namespace {
namespace fs = std::filesystem;
using testing::WavFixtures;

std::vector<std::string> names(const std::vector<fs::path>& paths) {
    std::vector<std::string> result;
    for (const auto& path : paths)
        result.push_back(path.filename().string());
    return result;
}

std::vector<std::string> folderNames(const fs::path& folder) {
    std::vector<std::string> result;
    for (const auto& entry : fs::directory_iterator(folder))
        result.push_back(entry.path().filename().string());
    std::sort(result.begin(), result.end());
    return result;
}

TEST(AudioChunkMixerNamingTest, GainsAreClampedAndPrintedShortestWithAPoint) {
    const struct {
        double gain;
        const char* text;
    } cases[] = {{1.0, "1.0"},  {2.25, "2.25"}, {1.1, "1.1"},  {1.2, "1.2"},          {0.5, "0.5"},
                 {2.5, "2.5"},  {3.0, "3.0"},   {20.0, "3.0"}, {0.0, "0.5"},          {-1.0, "0.5"},
                 {0.49, "0.5"}, {NAN, "1.0"},   {1.7, "1.7"},  {1.000001, "1.000001"}};
    for (const auto& c : cases)
        EXPECT_EQ(AudioChunkMixer::gainText(AudioChunkMixer::clampedGain(c.gain)), c.text) << c.gain;

    EXPECT_EQ(AudioChunkMixer::mixedChunkName(1.0, 1.0, 3), "mix_m1.0_s1.0_0003.wav");
    EXPECT_EQ(AudioChunkMixer::mixedChunkName(20.0, 1.0, 0), "mix_m3.0_s1.0_0000.wav");
    EXPECT_EQ(AudioChunkMixer::mixedChunkName(0.0, 0.0, 7), "mix_m0.5_s0.5_0007.wav");
    EXPECT_EQ(AudioChunkMixer::mixedChunkName(1.0, 2.25, 12345), "mix_m1.0_s2.25_12345.wav");
}

TEST(AudioChunkMixerNamingTest, RunningNumberComesFromTheTextBeforeTheLastDot) {
    const struct {
        const char* name;
        std::optional<std::int64_t> number;
    } cases[] = {{"mic_0002.wav", 2},
                 {"mic_2.wav", 2},
                 {"mic_0004.flac", 4},
                 {"mic_10000.wav", 10000},
                 {"mic_notes.txt", {}},
                 {"mic_.wav", {}},
                 {"other_0001.wav", {}},
                 {"mic_0003", {}},
                 {"mic_1.5.wav", {}},
                 {"mic_+7.wav", 7},
                 {"mic_-2.wav", -2},
                 {"mic_+-2.wav", {}},
                 {"mic_99999999999999999999.wav", {}}};
    for (const auto& c : cases)
        EXPECT_EQ(AudioChunkNames::chunkNumber(c.name, "mic_"), c.number) << c.name;

    const auto map = AudioChunkMixer::chunkMap({"a/mic_0002.wav", "b/mic_2.wav", "mic_notes.txt"}, "mic_");
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map.at(2), fs::path("b/mic_2.wav")) << "the later file of one number wins";
}

TEST(AudioChunkMixerNamingTest, MixedChunkNamesParseIntoTheirGainSetAndNumber) {
    const auto parsed =
        AudioChunkMixer::parseMixedChunkName(AudioChunkMixer::mixedChunkName(1.0, 2.25, 12345));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->prefix, "mix_m1.0_s2.25_");
    EXPECT_EQ(parsed->number, 12345);
    EXPECT_EQ(AudioChunkMixer::parseMixedChunkName("mix_m1.0_s1.0_0003.WAV")->number, 3);
    const char* others[] = {"mix_temp_E621E1F8-C36C-495A-93FC-0C247A3E6E5F.wav",
                            "mix_m1.0_s1.0_0003.txt",
                            "mix_m1.0_s1.0_.wav",
                            "mix_m1.0_0003.wav",
                            "mix_m_s_0003.wav",
                            "mic_0003.wav"};
    for (const char* name : others)
        EXPECT_FALSE(AudioChunkMixer::parseMixedChunkName(name)) << name;
}

TEST(AudioChunkMixerSamplesTest, MixIsScaledByTheGainSumAndClipped) {
    const std::vector<float> mic(4, 1.0f), sys(2, 1.0f);
    EXPECT_EQ(AudioChunkMixer::mixSamples(mic, sys, 3.0f, 0.5f),
              (std::vector<float>{1.0f, 1.0f, 3.0f / 3.5f, 3.0f / 3.5f}))
        << "full scale on both sides stays at 1.0; the longer side alone after the shorter ends";
    EXPECT_EQ(AudioChunkMixer::mixSamples({-3.0f, 0.25f}, {}, 0.5f, 0.5f),
              (std::vector<float>{-1.0f, 0.125f}))
        << "gains summing to 1 divide by 1; beyond full scale is clipped";
    EXPECT_TRUE(AudioChunkMixer::mixSamples({}, {}, 1.0f, 1.0f).empty());
}

class AudioChunkMixerTest : public ::testing::Test {
  protected:
    fs::path audio() const { return dir_.path() / "audio"; }
    fs::path source(const std::string& name) const {
        fs::create_directories(audio());
        return audio() / name;
    }

    testing::TempDir dir_;
    AudioChunkMixer mixer_;
    platform::LogCapture log_;
};

TEST_F(AudioChunkMixerTest, NothingToMixCreatesNoFolder) {
    EXPECT_TRUE(mixer_.buildMixedChunks(dir_.path(), {}, {}, 1.0, 1.0).empty());
    EXPECT_TRUE(mixer_
                    .buildMixedChunks(dir_.path(), {"mic_notes.txt", "mic_.wav", "other_0001.wav"},
                                      {"sys_x.wav"}, 1.0, 1.0)
                    .empty());
    EXPECT_FALSE(fs::exists(audio()));
}

TEST_F(AudioChunkMixerTest, EveryNumberOfEitherStreamGetsOneMixedChunkInOrder) {
    WavFixtures::writeConstant(source("mic_0000.wav"), 1600, 10000);
    WavFixtures::writeConstant(source("mic_0001.wav"), 1600, 10000);
    WavFixtures::writeConstant(source("mic_0003.wav"), 1600, 10000);
    WavFixtures::writeConstant(source("sys_0001.wav"), 1200, 20000);
    WavFixtures::writeConstant(source("sys_0002.wav"), 1200, 20000);

    const auto mixed = mixer_.buildMixedChunks(
        dir_.path(), {audio() / "mic_0003.wav", audio() / "mic_0000.wav", audio() / "mic_0001.wav"},
        {audio() / "sys_0002.wav", audio() / "sys_0001.wav"}, 0.0, -1.0);
    EXPECT_EQ(names(mixed), (std::vector<std::string>{"mix_m0.5_s0.5_0000.wav", "mix_m0.5_s0.5_0001.wav",
                                                      "mix_m0.5_s0.5_0002.wav", "mix_m0.5_s0.5_0003.wav"}));
    EXPECT_EQ(mixed.front().parent_path(), audio());

    const auto first = WavFixtures::read(mixed[0]);
    EXPECT_EQ(first.info.samplerate, 16000);
    EXPECT_EQ(first.info.channels, 1);
    EXPECT_EQ(first.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    ASSERT_EQ(first.samples.size(), 1600u);
    EXPECT_NEAR(first.samples[0], 5000, 1) << "microphone alone, at its gain over the gain sum";

    const auto both = WavFixtures::read(mixed[1]);
    ASSERT_EQ(both.samples.size(), 1600u) << "the longer side sets the length";
    EXPECT_NEAR(both.samples[0], 15000, 1);
    EXPECT_NEAR(both.samples[1599], 5000, 1) << "past the shorter side only the longer one is heard";

    EXPECT_NEAR(WavFixtures::read(mixed[2]).samples[0], 10000, 1) << "system audio alone";
    EXPECT_EQ(folderNames(audio()).size(), 9u) << "the inputs stay and no temporary file is left";
}

// Long chunks are mixed a block at a time: the mix is the same on both sides of every block
// boundary and the longer side goes on alone to its end.
TEST_F(AudioChunkMixerTest, ChunksLongerThanABlockAreMixedWhole) {
    WavFixtures::writeConstant(source("mic_0000.wav"), 100000, 10000);
    WavFixtures::writeConstant(source("sys_0000.wav"), 70000, 20000);
    const auto mixed = mixer_.buildMixedChunks(dir_.path(), {audio() / "mic_0000.wav"},
                                               {audio() / "sys_0000.wav"}, 1.0, 1.0);
    ASSERT_EQ(mixed.size(), 1u);
    const auto samples = WavFixtures::read(mixed[0]).samples;
    ASSERT_EQ(samples.size(), 100000u);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i] - (i < 70000 ? 15000 : 5000)) > 1)
            FAIL() << "sample " << i << " is " << samples[i];
    }
}

TEST_F(AudioChunkMixerTest, ClampedGainsNameAndScaleTheMixAndFullScaleClips) {
    WavFixtures::writeConstant(source("mic_0000.wav"), 100, 8000);
    WavFixtures::writeConstant(source("sys_0000.wav"), 100, 0);
    WavFixtures::writeConstant(source("mic_0001.wav"), 100, -32768);
    WavFixtures::writeConstant(source("sys_0001.wav"), 100, -32768);

    const auto mixed =
        mixer_.buildMixedChunks(dir_.path(), {audio() / "mic_0000.wav", audio() / "mic_0001.wav"},
                                {audio() / "sys_0000.wav", audio() / "sys_0001.wav"}, 20.0, 1.0);
    EXPECT_EQ(names(mixed), (std::vector<std::string>{"mix_m3.0_s1.0_0000.wav", "mix_m3.0_s1.0_0001.wav"}));
    EXPECT_NEAR(WavFixtures::read(mixed[0]).samples[0], 6000, 1) << "8000 × 3.0 / 4.0";
    EXPECT_EQ(WavFixtures::read(mixed[1]).samples[0], -32767) << "-32768 reads below -1.0 and is clipped";
}

TEST_F(AudioChunkMixerTest, SilentSourcesGiveAOneFrameChunkThatIsReusedWithoutReadingTheSources) {
    WavFixtures::writePcm16(source("mic_0000.wav"), {});
    WavFixtures::writePcm16(source("sys_0000.wav"), {});
    const auto mixed = mixer_.buildMixedChunks(dir_.path(), {audio() / "mic_0000.wav"},
                                               {audio() / "sys_0000.wav"}, 1.0, 1.0);
    ASSERT_EQ(mixed.size(), 1u);
    EXPECT_EQ(WavFixtures::read(mixed[0]).samples, std::vector<short>{0});

    // Sources that can no longer be read prove the reuse: the valid chunk is returned as it is.
    std::ofstream(audio() / "mic_0000.wav") << "not audio";
    std::ofstream(audio() / "sys_0000.wav") << "not audio";
    EXPECT_EQ(mixer_.buildMixedChunks(dir_.path(), {audio() / "mic_0000.wav"}, {audio() / "sys_0000.wav"},
                                      1.0, 1.0),
              mixed);
    EXPECT_FALSE(log_.contains("regenerating"));
}

TEST_F(AudioChunkMixerTest, UnreadableOrEmptyMixedChunkIsRegenerated) {
    WavFixtures::writeConstant(source("mic_0000.wav"), 100, 4000);
    WavFixtures::writeConstant(source("mic_0001.wav"), 100, 4000);
    WavFixtures::writeConstant(source("mic_0002.wav"), 100, 4000);
    std::ofstream(audio() / "mix_m1.0_s1.0_0000.wav").flush(); // zero bytes
    std::ofstream(audio() / "mix_m1.0_s1.0_0001.wav") << "RIFF but not really";
    ASSERT_EQ(::mkfifo((audio() / "mix_m1.0_s1.0_0002.wav").c_str(), 0600), 0); // never opened for writing

    const auto mixed = mixer_.buildMixedChunks(
        dir_.path(), {audio() / "mic_0000.wav", audio() / "mic_0001.wav", audio() / "mic_0002.wav"}, {}, 1.0,
        1.0);
    ASSERT_EQ(mixed.size(), 3u);
    for (const auto& chunk : mixed)
        EXPECT_NEAR(WavFixtures::read(chunk).samples[0], 2000, 1) << chunk;
    EXPECT_TRUE(log_.contains("mix chunk unreadable, regenerating: mix_m1.0_s1.0_0000.wav"));
    EXPECT_TRUE(log_.contains("mix chunk unreadable, regenerating: mix_m1.0_s1.0_0001.wav"));
    EXPECT_TRUE(log_.contains("mix chunk unreadable, regenerating: mix_m1.0_s1.0_0002.wav"));
}

TEST_F(AudioChunkMixerTest, FailuresStopAtTheFirstChunkAndLeaveNoTemporaryFile) {
    WavFixtures::writeConstant(source("mic_0000.wav"), 100, 4000);
    WavFixtures::writeConstant(source("mic_0001.wav"), 100, 4000);
    std::ofstream(audio() / "sys_0001.wav") << "not audio";
    const std::vector<fs::path> mic = {audio() / "mic_0000.wav", audio() / "mic_0001.wav"};

    EXPECT_THROW(mixer_.buildMixedChunks(dir_.path(), mic, {audio() / "sys_0001.wav"}, 1.0, 1.0),
                 AudioFileError);
    // A FIFO in a source's place fails the same way at once, with no writer to wait for.
    ASSERT_EQ(::mkfifo((audio() / "sys_0002.wav").c_str(), 0600), 0);
    EXPECT_THROW(mixer_.buildMixedChunks(dir_.path(), {}, {audio() / "sys_0002.wav"}, 1.0, 1.0),
                 AudioFileError);
    fs::remove(audio() / "sys_0002.wav");
    EXPECT_EQ(folderNames(audio()), (std::vector<std::string>{"mic_0000.wav", "mic_0001.wav",
                                                              "mix_m1.0_s1.0_0000.wav", "sys_0001.wav"}))
        << "the chunk finished before stays; inputs are never deleted";

    // A folder in the way of the final move: the move fails and its temporary file goes.
    fs::create_directories(audio() / "mix_m2.0_s1.0_0000.wav" / "inside");
    EXPECT_THROW(mixer_.buildMixedChunks(dir_.path(), mic, {}, 2.0, 1.0), fs::filesystem_error);
    for (const auto& name : folderNames(audio()))
        EXPECT_FALSE(name.starts_with("mix_temp_")) << name;
    EXPECT_TRUE(log_.contains("failed to remove unreadable mix chunk: mix_m2.0_s1.0_0000.wav"));
}

} // namespace
} // namespace velnote
