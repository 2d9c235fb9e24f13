#include "platform/fs/Files.h"
#include "speech/speakers/LocalSpeakerDiarizationService.h"
#include "support/FakeHub.h"
#include "support/ModelSets.h"
#include "support/Results.h"
#include "support/TempDir.h"
#include "support/ToneFiles.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace velnote {
namespace {
namespace fs = std::filesystem;
using diarith::SpeakerInfo;
using diarith::SpeakerSegment;
using testing::result;
using testing::ToneFiles;

// Tones of the diarization engine's tone models: 300 Hz is one speaker, 3000 Hz the other.
constexpr double kLow = 300, kHigh = 3000;

vocalith::TranscriptionSegment spanning(float start, float end) {
    return testing::engineSegment({start, end, "x"});
}

SpeakerSegment turn(SpeakerInfo speaker, float start, float end) {
    return SpeakerSegment::withTimes(std::move(speaker), start, end, 100.0f);
}

TEST(SpeakerLabel, TheTurnOverlappingMostNamesTheSpeaker) {
    using S = SpeakerInfo;
    struct Case {
        const char* what;
        std::vector<SpeakerSegment> turns;
        const char* label;
    };
    const std::vector<Case> cases = {
        {"most overlap wins", {turn(S::speakerId(1), 0, 2), turn(S::speakerId(3), 2, 10)}, "SPEAKER_03"},
        {"a tie keeps the first", {turn(S::speakerId(4), 0, 3), turn(S::speakerId(2), 7, 12)}, "SPEAKER_04"},
        {"three digits", {turn(S::speakerId(123), 0, 10)}, "SPEAKER_123"},
        {"touching is no overlap", {turn(S::speakerId(0), 0, 1), turn(S::speakerId(1), 8, 12)}, "SPEAKER_01"},
        {"only touching", {turn(S::speakerId(0), 0, 1)}, "SPEAKER_??"},
        {"no turns", {}, "SPEAKER_??"},
        {"best has several speakers",
         {turn(S::speakerId(0), 1, 2), turn(S::multiple({0, 1}), 2, 9)},
         "SPEAKER_??"},
        {"best matches no speaker", {turn(S::noMatch(), 1, 9)}, "SPEAKER_??"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LocalSpeakerDiarizationService::bestSpeakerLabel(spanning(1, 9), c.turns), c.label)
            << c.what;
}

TEST(SpeakerLabel, TimeStampsAreWholeSecondsFromZero) {
    for (const auto& [seconds, text] :
         std::vector<std::pair<float, const char*>>{{3725.9f, "01:02:05"},
                                                    {-0.2f, "00:00:00"},
                                                    {0.999f, "00:00:00"},
                                                    {360000.0f, "100:00:00"},
                                                    {std::numeric_limits<float>::quiet_NaN(), "00:00:00"},
                                                    {std::numeric_limits<float>::infinity(), "00:00:00"},
                                                    {3e38f, "00:00:00"}})
        EXPECT_EQ(LocalSpeakerDiarizationService::timeStamp(seconds), text) << seconds;
}

class JoinedAudioTest : public ::testing::Test {
  protected:
    fs::path wav(const std::string& name, double seconds, double level = 0.5) {
        const auto path = dir_.path() / name;
        ToneFiles::write(path, 16000, 1, {{seconds, kLow, level}});
        return path;
    }
    testing::TempDir dir_;
};

// Every chunk sits at its place: gaps become zeros, a long chunk pushes the next back, a chunk
// whose place is already passed follows at the end.
TEST_F(JoinedAudioTest, ChunksSitAtTheirPlaceInTheRecording) {
    const auto audio = LocalSpeakerDiarizationService::joinedAudio(
        {wav("mic_0000.wav", 1), wav("mic_0002.wav", 12), wav("take.wav", 1), wav("mic_0001.wav", 0.5)}, {});
    ASSERT_EQ(audio.size(), static_cast<std::size_t>(16000 * (20 + 12 + 1 + 0.5)));
    const auto nonZeroAt = [&](double second) {
        return audio[static_cast<std::size_t>(second * 16000) + 3] != 0;
    };
    EXPECT_TRUE(nonZeroAt(0.5));
    EXPECT_FALSE(nonZeroAt(5)) << "the missing chunk 1 is silence";
    EXPECT_TRUE(nonZeroAt(20.5)) << "chunk 2 at 20 s";
    EXPECT_TRUE(nonZeroAt(31.5)) << "chunk 2 runs 12 s; take.wav (place 30 s) follows it at 32 s";
    EXPECT_TRUE(nonZeroAt(32.5));
    EXPECT_TRUE(nonZeroAt(33.2)) << "chunk 1, out of order, appended at the end";
}

TEST_F(JoinedAudioTest, AnUnreadableChunkFails) {
    fs::path bad = dir_.path() / "mic_0001.wav";
    platform::writeFileAtomically(bad, "RIFF not really");
    EXPECT_ANY_THROW(LocalSpeakerDiarizationService::joinedAudio({wav("mic_0000.wav", 1), bad}, {}));
    EXPECT_ANY_THROW(LocalSpeakerDiarizationService::joinedAudio({dir_.path() / "mic_0005.wav"}, {}));
}

// The engine, fetched from a hub on 127.0.0.1 that serves the tone models.
class LabellingTest : public ::testing::Test {
  protected:
    void serveModels() {
        const fs::path models = diarith::testing::modelSet(diarith::GeneratedWeights::tone);
        for (const auto& entry : fs::recursive_directory_iterator(models)) {
            if (entry.is_regular_file())
                hub_.addFile(diarith::kDefaultModelRepo, fs::relative(entry.path(), models).string(),
                             platform::readFile(entry.path()));
        }
    }

    LocalSpeakerDiarizationService::Settings settings(const std::string& endpoint) const {
        return {.modelEndpoint = endpoint, .downloadBase = (dir_.path() / "hub").string()};
    }

    // mic_0000 low, mic_0001 high, mic_0002 low; ten seconds each.
    std::vector<fs::path> chunks() const {
        std::vector<fs::path> paths;
        for (const auto& [name, hz] : std::vector<std::pair<std::string, double>>{
                 {"mic_0000.wav", kLow}, {"mic_0001.wav", kHigh}, {"mic_0002.wav", kLow}}) {
            paths.push_back(dir_.path() / name);
            ToneFiles::write(paths.back(), 16000, 1, {{10, hz, 0.5}});
        }
        return paths;
    }

    std::vector<TranscriptEntry> fallbackEntries() {
        ++fallbackCalls_;
        return {{0, "plain", "[mic] plain"}};
    }

    testing::TempDir dir_;
    basalith::testing::FakeHub hub_;
    int fallbackCalls_ = 0;
    TranscriptEntriesFallback fallback_ = [this] { return fallbackEntries(); };
};

// The engine is made at the first call that gets its models, after one that did not.
TEST_F(LabellingTest, SegmentsGetTheSpeakerOfTheirTone) {
    LocalSpeakerDiarizationService service(settings(hub_.endpoint()));
    EXPECT_ANY_THROW(service.diarizedEntries({result({{1, 9, "x"}})},
                                             {.source = "mic", .chunkPaths = chunks()}, fallback_, {}));
    EXPECT_EQ(fallbackCalls_, 0);
    serveModels();
    const auto entries = service.diarizedEntries(
        {result({{1, 9, "first"}, {11, 19, "second"}}), result({{21.5f, 29, "third"}, {25, 26, ""}})},
        {.source = "mic", .chunkPaths = chunks()}, fallback_, {});
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(fallbackCalls_, 0);
    EXPECT_EQ(entries[0].startTime, 1.0f);
    EXPECT_EQ(entries[0].text, "first");
    EXPECT_TRUE(entries[0].line.starts_with("[MIC SPEAKER_0")) << entries[0].line;
    EXPECT_TRUE(entries[0].line.ends_with(" 00:00:01] first")) << entries[0].line;
    const auto label = [](const TranscriptEntry& e) { return e.line.substr(0, e.line.find(' ', 5)); };
    EXPECT_EQ(label(entries[0]), label(entries[2]));
    EXPECT_NE(label(entries[0]), label(entries[1]));
    EXPECT_TRUE(entries[2].line.ends_with(" 00:00:21] third"));

    // Only empty texts: nothing to label although the diarization ran.
    const auto plain = service.diarizedEntries({result({{1, 9, ""}})},
                                               {.source = "mic", .chunkPaths = chunks()}, fallback_, {});
    EXPECT_EQ(plain, fallbackEntries());
    EXPECT_EQ(fallbackCalls_, 2);
}

// Nothing to diarize never reaches the engine (the hub here answers nothing).
TEST_F(LabellingTest, NoChunksOrNoSamplesGiveTheFallback) {
    LocalSpeakerDiarizationService service(settings("http://127.0.0.1:9"));
    const auto empty = dir_.path() / "mic_0000.wav";
    ToneFiles::write(empty, 16000, 1, {});
    for (const auto& paths : {std::vector<fs::path>{}, std::vector<fs::path>{empty}})
        EXPECT_EQ(service.diarizedEntries({result({{1, 2, "x"}})}, {.source = "mic", .chunkPaths = paths},
                                          fallback_, {}),
                  fallbackEntries());
}

} // namespace
} // namespace velnote
