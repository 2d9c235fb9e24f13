#include "speech/local/LocalSpeechPipeline.h"

#include "platform/concurrency/CancellationError.h"
#include "platform/logging/Logger.h"
#include "support/Results.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace velnote {
namespace {

using testing::result;

struct FakeTranscription : TranscriptionServiceProtocol {
    TrackWhisperOutput output;
    std::optional<std::string> language = "unset";
    std::string model;
    TrackWhisperOutput loadWhisperOutput(const AudioSourceTrack&, const std::string& m,
                                         const std::optional<std::string>& l, const TextSanitizer&,
                                         std::stop_token) override {
        model = m;
        language = l;
        return output;
    }
};

struct FakeLabelling : SpeakerDiarizationServiceProtocol {
    enum class Behaviour { label, callFallback, throwError, throwCancellation };
    Behaviour behaviour = Behaviour::label;
    std::vector<TranscriptEntry> entries;
    std::optional<DiarizationRequest> request;
    std::vector<TranscriptEntry> diarizedEntries(const std::vector<vocalith::TranscriptionResultPtr>&,
                                                 const DiarizationRequest& r,
                                                 const TranscriptEntriesFallback& fallback,
                                                 std::stop_token) override {
        request = r;
        switch (behaviour) {
        case Behaviour::label:
            return entries;
        case Behaviour::callFallback:
            return fallback();
        case Behaviour::throwError:
            throw std::runtime_error("model download failed");
        case Behaviour::throwCancellation:
            throw platform::CancellationError();
        }
        return {};
    }
};

class LocalSpeechPipelineTest : public ::testing::Test {
  protected:
    std::vector<SpeechSegment> run(SpeechProcessingConfig config) {
        return pipeline_.process(track_, config, [](std::string_view t) { return std::string(t); }, {});
    }

    std::shared_ptr<FakeTranscription> transcription_ = std::make_shared<FakeTranscription>();
    std::shared_ptr<FakeLabelling> labelling_ = std::make_shared<FakeLabelling>();
    LocalSpeechPipeline pipeline_{transcription_, labelling_};
    AudioSourceTrack track_{.source = "mic",
                            .chunkPaths = {"/s/audio/mic_0000.wav", "/s/audio/mic_0001.wav"}};
};

TEST_F(LocalSpeechPipelineTest, WithoutDiarizationEachEngineSegmentIsOneSegment) {
    auto withWords = result({{11, 12, "three"}});
    withWords->modifySegments([](auto& segments) {
        segments[0].words = std::vector<vocalith::WordTiming>{{"three", {}, 11.25f, 11.5f, 0.9f}};
    });
    transcription_->output.results = {result({{0, 1.5f, "one"}, {2, 3, "two"}}), withWords};
    const auto segments = run({.model = "tiny", .language = "de"});
    EXPECT_EQ(transcription_->model, "tiny");
    EXPECT_EQ(transcription_->language, "de");
    ASSERT_EQ(segments.size(), 3u);
    EXPECT_EQ(segments[0], (SpeechSegment{.text = "one", .start = 0, .end = 1.5}));
    EXPECT_EQ(segments[1], (SpeechSegment{.text = "two", .start = 2, .end = 3}));
    EXPECT_EQ(segments[2].words, (std::vector<SpeechWordTiming>{{"three", 11.25, 11.5}}));
    EXPECT_FALSE(labelling_->request);
}

// The speaker is what the line holds between its leading "[" and the first "]".
TEST_F(LocalSpeechPipelineTest, DiarizedEntriesBecomeSegmentsWithTheirBracketedSpeaker) {
    transcription_->output.results = {result({{5, 9, "x"}})};
    labelling_->entries = {{3.5f, "hi", "[MIC SPEAKER_01 00:00:03] hi"},
                           {4, "a", "[] a"},
                           {5, "b", "no bracket"},
                           {6, "c", "[unclosed c"},
                           {7, "d", " [MIC] d"}};
    const auto segments = run({.model = "m", .diarizationEnabled = true, .numberOfSpeakers = 3});
    ASSERT_EQ(segments.size(), 5u);
    EXPECT_EQ(segments[0],
              (SpeechSegment{.text = "hi", .start = 3.5, .end = 3.5, .speaker = "MIC SPEAKER_01 00:00:03"}));
    EXPECT_EQ(segments[1].speaker, "");
    for (std::size_t i = 2; i < 5; ++i)
        EXPECT_FALSE(segments[i].speaker) << i;
    ASSERT_TRUE(labelling_->request);
    EXPECT_EQ(labelling_->request->source, "mic");
    EXPECT_EQ(labelling_->request->chunkPaths, track_.chunkPaths);
    EXPECT_EQ(labelling_->request->numberOfSpeakers, 3);
    EXPECT_TRUE(labelling_->request->labelsIncludeSource);
    EXPECT_FALSE(pipeline_.diarizationFailure());
}

TEST_F(LocalSpeechPipelineTest, TheLabellingServicesFallbackGivesTheSourceAsSpeaker) {
    platform::LogCapture log;
    transcription_->output.results = {result({{12.5f, 14, "hello"}})};
    labelling_->behaviour = FakeLabelling::Behaviour::callFallback;
    const auto segments = run({.model = "m", .diarizationEnabled = true});
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0], (SpeechSegment{.text = "hello", .start = 12.5, .end = 12.5, .speaker = "mic"}));
    EXPECT_TRUE(log.contains("Diarization failed, falling back to simple entry mapping"));
    EXPECT_FALSE(pipeline_.diarizationFailure());
}

// The transcription is kept: plain lines, and the error reported for the diarization step.
TEST_F(LocalSpeechPipelineTest, AThrowingDiarizationFallsBackAndReportsTheError) {
    transcription_->output.results = {result({{1, 2, "hello"}})};
    labelling_->behaviour = FakeLabelling::Behaviour::throwError;
    const auto segments = run({.model = "m", .diarizationEnabled = true});
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].speaker, "mic");
    EXPECT_EQ(pipeline_.diarizationFailure(), "model download failed");

    // The next track starts clean.
    labelling_->behaviour = FakeLabelling::Behaviour::label;
    run({.model = "m", .diarizationEnabled = true});
    EXPECT_FALSE(pipeline_.diarizationFailure());

    labelling_->behaviour = FakeLabelling::Behaviour::throwCancellation;
    EXPECT_THROW(run({.model = "m", .diarizationEnabled = true}), platform::CancellationError);
}

TEST_F(LocalSpeechPipelineTest, NoResultsGiveNoSegmentsWithoutDiarization) {
    EXPECT_TRUE(run({.model = "m"}).empty());
    labelling_->behaviour = FakeLabelling::Behaviour::callFallback;
    EXPECT_TRUE(run({.model = "m", .diarizationEnabled = true}).empty());
}

} // namespace
} // namespace velnote
