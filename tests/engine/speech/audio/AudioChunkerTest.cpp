#include "engine/speech/audio/AudioChunker.h"

#include "engine/speech/WhisperError.h"
#include "support/TestAudio.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace vocalith {
namespace {

using testing::TestAudio;

constexpr std::int64_t kWindow = 480000;
constexpr std::int64_t kSecond = 16000;

// A 16 kHz tone `seconds` long with silence over each [start, end) sample range.
std::vector<float> toneWithSilences(double seconds, std::vector<IndexRange> silences = {}) {
    auto samples = TestAudio::tone(seconds, 16000, 440, 0.5);
    for (const auto& silence : silences)
        std::fill(samples.begin() + silence.startIndex, samples.begin() + silence.endIndex, 0.0f);
    return samples;
}

std::vector<IndexRange> rangesOf(const std::vector<AudioChunk>& chunks) {
    std::vector<IndexRange> ranges;
    for (const auto& chunk : chunks)
        ranges.push_back({chunk.seekOffsetIndex,
                          chunk.seekOffsetIndex + static_cast<std::int64_t>(chunk.audioSamples.size())});
    return ranges;
}

// Every chunk holds the samples it claims, fits one window, and the chunks cover `audio` end to end.
void expectCoversWholly(const std::vector<float>& audio, const std::vector<AudioChunk>& chunks) {
    std::int64_t next = 0;
    for (const auto& chunk : chunks) {
        EXPECT_EQ(chunk.seekOffsetIndex, next);
        EXPECT_LE(static_cast<std::int64_t>(chunk.audioSamples.size()), kWindow);
        EXPECT_TRUE(std::equal(chunk.audioSamples.begin(), chunk.audioSamples.end(), audio.begin() + next));
        next += static_cast<std::int64_t>(chunk.audioSamples.size());
    }
    EXPECT_EQ(next, static_cast<std::int64_t>(audio.size()));
}

DecodingOptions withClips(std::vector<float> clips) {
    DecodingOptions options;
    options.clipTimestamps = std::move(clips);
    return options;
}

TEST(VoiceActivityTest, EnergyFramesAndTheirRuns) {
    EnergyVAD vad;
    // Frames of 1600 samples: silence, speech, speech, silence, speech (the last one short).
    auto samples = toneWithSilences(0.5, {{0, 1600}, {4800, 6400}});
    samples.resize(7000);
    EXPECT_EQ(vad.voiceActivity(samples), (std::vector<bool>{false, true, true, false, true}));
    samples.resize(8000);
    std::fill(samples.begin() + 7000, samples.end(), 0.5f);
    EXPECT_EQ(vad.calculateActiveChunks(samples), (std::vector<IndexRange>{{1600, 4800}, {6400, 8000}}));
    EXPECT_EQ(vad.voiceActivityClipTimestamps(samples), (std::vector<float>{0.1f, 0.3f, 0.4f, 0.5f}));
    EXPECT_TRUE(vad.voiceActivity({}).empty());

    // Strictly above the threshold: a constant at the threshold is silence.
    const EnergyVAD strict(16000, 4, 0, 0.5f);
    EXPECT_EQ(strict.voiceActivity({0.5f, 0.5f, 0.5f, 0.5f, 0.6f}), (std::vector<bool>{false, true}));
    // With overlap, a frame also hears the start of the next one.
    const EnergyVAD overlapping(16000, 2, 2, 0.1f);
    EXPECT_EQ(overlapping.voiceActivity({0, 0, 1, 1, 0, 0}), (std::vector<bool>{true, true, false}));
}

TEST(VoiceActivityTest, LongestSilenceAndFrameTimes) {
    const EnergyVAD vad;
    EXPECT_FALSE(vad.findLongestSilence({true, true}));
    EXPECT_EQ(vad.findLongestSilence({true, false, false, true, false, false}), (IndexRange{1, 3}));
    EXPECT_EQ(vad.findLongestSilence({false, true, false, false}), (IndexRange{2, 4}));
    EXPECT_EQ(vad.voiceActivityIndexToAudioSampleIndex(3), 4800);
    EXPECT_FLOAT_EQ(vad.voiceActivityIndexToSeconds(3), 0.3f);

    const auto fromSeconds = EnergyVAD::withSeconds(16000, 0.1f, 0.05f, 0.02f);
    EXPECT_EQ(fromSeconds.frameLengthSamples(), 1600);
    EXPECT_EQ(fromSeconds.frameOverlapSamples(), 800);
    EXPECT_THROW(EnergyVAD::withSeconds(16000, 0.00001f, 0, 0.02f), std::invalid_argument);
    EXPECT_THROW(EnergyVAD::withSeconds(16000, INFINITY, 0, 0.02f), std::invalid_argument);
    EXPECT_THROW(EnergyVAD(16000, 0, 0, 0.02f), std::invalid_argument);
}

TEST(AudioChunkerTest, UpToOneWindowIsOneChunkAndOneSampleMoreIsCut) {
    VADAudioChunker chunker;
    const auto exactly = toneWithSilences(30.0);
    ASSERT_EQ(static_cast<std::int64_t>(exactly.size()), kWindow);
    const auto one = chunker.chunkAll(exactly, kWindow, std::nullopt);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].seekOffsetIndex, 0);
    EXPECT_EQ(one[0].audioSamples, exactly);
    EXPECT_EQ(chunker.chunkAll({}, kWindow, std::nullopt).size(), 1u);

    // One sample over: the last sample is its own chunk, not dropped.
    auto over = exactly;
    over.push_back(0.25f);
    const auto two = chunker.chunkAll(over, kWindow, std::nullopt);
    EXPECT_EQ(rangesOf(two), (std::vector<IndexRange>{{0, kWindow}, {kWindow, kWindow + 1}}));

    DecodingOptions vad;
    vad.chunkingStrategy = ChunkingStrategy::vad;
    DecodingOptions none;
    none.chunkingStrategy = ChunkingStrategy::none;
    EXPECT_FALSE(takesChunkedPath(kWindow, kWindow, vad));
    EXPECT_TRUE(takesChunkedPath(kWindow + 1, kWindow, vad));
    EXPECT_FALSE(takesChunkedPath(kWindow + 1, kWindow, none));
    EXPECT_FALSE(takesChunkedPath(kWindow + 1, kWindow, DecodingOptions()));
    EXPECT_FALSE(takesChunkedPath(kWindow + 1, kWindow, std::nullopt));
}

TEST(AudioChunkerTest, CutsInTheMiddleOfTheLongestSilence) {
    VADAudioChunker chunker;
    // 35 s without a pause: a full window, then the rest.
    const auto continuous = toneWithSilences(35.0);
    EXPECT_EQ(rangesOf(chunker.chunkAll(continuous, kWindow, std::nullopt)),
              (std::vector<IndexRange>{{0, kWindow}, {kWindow, 560000}}));

    // 60 s with a 1 s pause at 25 s and a shorter one at 20 s: the cut lands in the middle of the
    // longer pause, on a frame boundary counted from the window's middle (240000).
    const auto paused = toneWithSilences(60.0, {{20 * kSecond, 20 * kSecond + 4800}, {400000, 416000}});
    const auto chunks = chunker.chunkAll(paused, kWindow, std::nullopt);
    ASSERT_GE(chunks.size(), 2u);
    const std::int64_t cut = chunks[1].seekOffsetIndex;
    EXPECT_EQ((cut - 240000) % 1600, 0);
    EXPECT_GE(cut, 400000 + 6400);
    EXPECT_LE(cut, 416000 - 6400);
    expectCoversWholly(paused, chunks);
}

// A cut within a second of the end once dropped the rest; every sample is transcribed now.
TEST(AudioChunkerTest, TheStretchAfterTheLastCutIsKept) {
    VADAudioChunker chunker;
    // The only silence in the first window's second half is frame 148 after its middle.
    const auto audio = toneWithSilences(490000.0 / 16000, {{476800, 478400}});
    const auto chunks = chunker.chunkAll(audio, kWindow, std::nullopt);
    EXPECT_EQ(rangesOf(chunks), (std::vector<IndexRange>{{0, 476800}, {476800, 490000}}));
    expectCoversWholly(audio, chunks);
}

TEST(AudioChunkerTest, ClipsFromTheOptions) {
    VADAudioChunker chunker;
    const auto audio = toneWithSilences(40.0);
    // A clip of half a second (no longer than the padding) still gives its chunk.
    EXPECT_EQ(rangesOf(chunker.chunkAll(audio, kWindow, withClips({2.0f, 2.5f}))),
              (std::vector<IndexRange>{{32000, 40000}}));
    // An open last clip runs to the end; a clip past the end is clamped to it.
    EXPECT_EQ(rangesOf(chunker.chunkAll(audio, kWindow, withClips({1.0f, 2.0f, 30.0f}))),
              (std::vector<IndexRange>{{16000, 32000}, {480000, 640000}}));
    EXPECT_EQ(rangesOf(chunker.chunkAll(audio, kWindow, withClips({39.0f, 99.0f}))),
              (std::vector<IndexRange>{{624000, 640000}}));
    try {
        chunker.chunkAll(audio, kWindow, withClips({45.0f, 50.0f}));
        ADD_FAILURE() << "a clip beyond the audio was chunked";
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.errorCase(), WhisperError::Case::audioProcessingFailed);
        EXPECT_EQ(error.message(), "startIndex is outside the buffer size");
    }
}

TranscriptionResultPtr resultWith(std::vector<TranscriptionSegment> segments) {
    return std::make_shared<TranscriptionResult>("text", std::move(segments), "en", TranscriptionTimings{});
}

TEST(AudioChunkerTest, ResultsMoveOntoTheWholeRecording) {
    TranscriptionSegment segment;
    segment.seek = 100;
    segment.start = 1.0f;
    segment.end = 2.5f;
    segment.words = std::vector<WordTiming>{WordTiming{.word = "hi", .start = 1.0f, .end = 1.5f}};
    const auto first = resultWith({segment});
    const auto second = resultWith({segment, segment});
    const std::vector<AudioChunk> chunks{{0, {}}, {240000, {}}, {kWindow, {}}};
    const std::vector<TranscriptionOutcome> outcomes{
        std::vector<TranscriptionResultPtr>{first},
        std::make_exception_ptr(WhisperError::transcriptionFailed("broken")),
        std::vector<TranscriptionResultPtr>{second},
    };
    const auto results = AudioChunking::updateSeekOffsetsForResults(outcomes, chunks);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0], first);
    EXPECT_EQ(results[1], second);
    EXPECT_EQ(first->seekTime(), 0.0f);
    EXPECT_EQ(second->seekTime(), 30.0f);
    for (const auto& moved : second->segments()) {
        EXPECT_EQ(moved.seek, 100 + kWindow);
        EXPECT_FLOAT_EQ(moved.start, 31.0f);
        EXPECT_FLOAT_EQ(moved.end, 32.5f);
        EXPECT_FLOAT_EQ(moved.words->front().start, 31.0f);
        EXPECT_FLOAT_EQ(moved.words->front().end, 31.5f);
    }
}

} // namespace
} // namespace vocalith
