#include "engine/speech/audio/AudioStreamTranscriber.h"

#include "engine/foundation/support/LogLines.h"
#include "engine/speech/WhisperError.h"
#include "support/FakeStreamTranscription.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <thread>

namespace vocalith {
namespace {

using basalith::testing::LogLines;
using testing::endsOf;
using testing::FakeAudioProcessing;
using testing::FakeTranscriptionTask;
using testing::segmentsEndingAt;
using testing::waitFor;
using State = AudioStreamTranscriber::State;

class AudioStreamTranscriberTest : public ::testing::Test {
  protected:
    void make(bool useVAD = false) {
        transcriber = std::make_unique<AudioStreamTranscriber>(
            task, processor, DecodingOptions(), 2, 0.3f, 20, useVAD, [this](const State&, const State& now) {
                std::lock_guard lock(mutex);
                states.push_back(now);
            });
    }

    // Runs the start on a thread of its own, as an application would, and waits for the capture.
    void start() {
        const int before = processor->starts();
        finished = false;
        loop = std::jthread([this] {
            try {
                transcriber->startStreamTranscription();
            } catch (...) {
                startError = std::current_exception();
            }
            finished = true;
        });
        ASSERT_TRUE(waitFor([&] { return processor->starts() > before || finished; }));
    }

    void stop() {
        transcriber->stopStreamTranscription();
        loop.join();
    }

    bool sawState(const std::function<bool(const State&)>& test) {
        std::lock_guard lock(mutex);
        return std::any_of(states.begin(), states.end(), test);
    }

    std::shared_ptr<FakeAudioProcessing> processor = std::make_shared<FakeAudioProcessing>();
    std::shared_ptr<FakeTranscriptionTask> task = std::make_shared<FakeTranscriptionTask>();
    std::unique_ptr<AudioStreamTranscriber> transcriber;
    std::mutex mutex;
    std::vector<State> states;
    std::exception_ptr startError;
    std::atomic<bool> finished{false};
    std::jthread loop;
};

// Each pass transcribes everything from the end of the confirmed text; all but the newest two
// segments are confirmed, and only once.
TEST_F(AudioStreamTranscriberTest, ConfirmsAllButTheNewestSegments) {
    task->script = {
        segmentsEndingAt({1, 2, 3, 4, 5}), // 1-3 confirmed, 4-5 open
        segmentsEndingAt({4, 5, 6, 7}),    // 4-5 confirmed, 6-7 open
        segmentsEndingAt({4, 5, 6}),       // 4 ends before the confirmed end: nothing confirmed
        segmentsEndingAt({6}),             // no more than two: all open
    };
    const std::vector<std::vector<float>> open{{4, 5}, {6, 7}, {5, 6}, {6}};
    make();
    start();
    for (std::size_t pass = 0; pass < open.size(); ++pass) {
        processor->add(1.2, 0.5f);
        ASSERT_TRUE(waitFor([&] { return endsOf(transcriber->state().unconfirmedSegments) == open[pass]; }))
            << "pass " << pass + 1;
    }
    stop();
    const State state = transcriber->state();
    EXPECT_FALSE(state.isRecording);
    EXPECT_EQ(endsOf(state.confirmedSegments), (std::vector<float>{1, 2, 3, 4, 5}));
    EXPECT_EQ(state.lastConfirmedSegmentEndSeconds, 5.0f);
    EXPECT_EQ(task->clipStarts(), (std::vector<float>{0, 3, 5, 5}));
    EXPECT_EQ(task->sampleCounts(), (std::vector<std::size_t>{19200, 38400, 57600, 76800}));
    EXPECT_EQ(state.lastBufferSize, 76800);
    EXPECT_EQ(processor->stops(), 1);
    EXPECT_FALSE(state.bufferEnergy.empty());
}

TEST_F(AudioStreamTranscriberTest, WaitsForASecondOfNewAudioWithVoiceInIt) {
    make(/*useVAD=*/true);
    start();
    processor->add(0.8, 0.1f); // not above a second: no pass
    ASSERT_TRUE(waitFor([&] { return transcriber->state().currentText == "Waiting for speech..."; }));
    LogLines log;
    processor->add(0.7, 0.1f); // 1.5 s, all of it quiet
    // Once the loop says so, it has looked at the quiet 1.5 s and let them pass.
    ASSERT_TRUE(waitFor([&] {
        const auto lines = log.lines();
        return std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
            return line.find("No voice detected, skipping transcribe") != std::string::npos;
        });
    }));
    EXPECT_EQ(task->calls(), 0u);
    EXPECT_EQ(transcriber->state().lastBufferSize, 0);
    // 3.5 s: of the newest 35 energies the first 25 are examined, and the last 10 of those are loud.
    processor->add(2.0, 0.9f);
    ASSERT_TRUE(waitFor([&] { return task->calls() == 1; }));
    EXPECT_EQ(task->sampleCounts().front(), 56000u); // the skipped audio is transcribed too
    stop();
}

// A second start while recording returns at once and changes nothing.
TEST_F(AudioStreamTranscriberTest, SecondStartReturnsAtOnce) {
    make();
    start();
    transcriber->startStreamTranscription();
    EXPECT_EQ(processor->starts(), 1);
    EXPECT_TRUE(transcriber->state().isRecording);
    stop();
}

// A failing pass once left the capture running with isRecording set, so every later start
// returned at once: now the capture stops and a later start records again.
TEST_F(AudioStreamTranscriberTest, AFailedPassStopsTheCaptureAndALaterStartWorks) {
    task->failAt = {1};
    task->script = {segmentsEndingAt({1, 2, 3})};
    make();
    start();
    LogLines log(basalith::Logging::LogLevel::error);
    processor->add(1.2, 0.5f);
    ASSERT_TRUE(waitFor([&] { return finished.load(); }));
    loop.join();
    EXPECT_EQ(startError, nullptr);
    EXPECT_TRUE(log.contains("Error: The decoder failed"));
    EXPECT_FALSE(transcriber->state().isRecording);
    EXPECT_EQ(processor->stops(), 1);

    start();
    EXPECT_EQ(processor->starts(), 2);
    EXPECT_TRUE(transcriber->state().isRecording);
    processor->add(1.2, 0.5f);
    ASSERT_TRUE(waitFor([&] {
        return endsOf(transcriber->state().unconfirmedSegments) == std::vector<float>{2, 3};
    }));
    EXPECT_EQ(task->clipStarts().back(), 0.0f); // a fresh state: from the start of the new audio
    stop();
}

TEST_F(AudioStreamTranscriberTest, ACaptureThatCannotStartLeavesItStopped) {
    processor->failStart = true;
    make();
    start();
    loop.join();
    ASSERT_NE(startError, nullptr);
    EXPECT_THROW(std::rethrow_exception(startError), WhisperError);
    EXPECT_FALSE(transcriber->state().isRecording);

    processor->failStart = false;
    start();
    EXPECT_TRUE(transcriber->state().isRecording);
    stop();
}

TEST_F(AudioStreamTranscriberTest, ShorterProgressTextKeepsTheEarlierAttempt) {
    auto report = [](std::string text, double fallbacks) {
        TranscriptionProgress progress;
        progress.text = std::move(text);
        progress.timings.totalDecodingFallbacks = fallbacks;
        return progress;
    };
    task->progress = {report("hello world", 0), report("hi", 0), report("hello there", 0), report("hey", 1)};
    task->script = {segmentsEndingAt({1})};
    make();
    LogLines log(basalith::Logging::LogLevel::info);
    start();
    // The first attempt is measured against the waiting text: audio added before the loop's
    // first look would skip it.
    ASSERT_TRUE(waitFor([&] { return transcriber->state().currentText == "Waiting for speech..."; }));
    processor->add(1.2, 0.5f);
    ASSERT_TRUE(
        waitFor([&] { return task->calls() == 1 && !transcriber->state().unconfirmedSegments.empty(); }));
    stop();
    // "hi" is shorter than "hello world" with no new fallback: the longer attempt is kept (as the
    // waiting text was when "hello world" came).
    const std::vector<std::string> kept{"Waiting for speech...", "hello world"};
    EXPECT_TRUE(sawState([&](const State& s) { return s.unconfirmedText == kept; }));
    // "hey" comes with a new fallback: logged, not kept.
    EXPECT_TRUE(sawState([&](const State& s) { return s.currentText == "hey" && s.currentFallbacks == 1; }));
    EXPECT_FALSE(sawState([](const State& s) { return s.unconfirmedText.size() > 2; }));
    EXPECT_TRUE(log.contains("Fallback occured: 1"));
    // The finished pass clears the attempts.
    EXPECT_TRUE(sawState([](const State& s) {
        return !s.unconfirmedSegments.empty() && s.unconfirmedText.empty() && s.currentText.empty();
    }));
}

TEST(StreamEarlyStopTest, CompressionAndLogProbabilityChecks) {
    std::vector<std::size_t> measured;
    auto ratioOf = [&](float value) {
        return [&measured, value](const std::vector<std::int64_t>& tokens) {
            measured.push_back(tokens.size());
            return value;
        };
    };
    auto progressWith = [](std::size_t tokens, std::optional<float> avgLogprob = std::nullopt) {
        TranscriptionProgress progress;
        progress.tokens.assign(tokens, 7);
        progress.avgLogprob = avgLogprob;
        return progress;
    };
    const DecodingOptions options; // ratio threshold 2.4, log-probability threshold -1
    EXPECT_EQ(AudioStreamTranscriber::shouldStopEarly(progressWith(20), options, 20, ratioOf(9)),
              std::nullopt);
    EXPECT_TRUE(measured.empty());
    EXPECT_EQ(AudioStreamTranscriber::shouldStopEarly(progressWith(21), options, 20, ratioOf(2.5f)), false);
    EXPECT_EQ(AudioStreamTranscriber::shouldStopEarly(progressWith(30), options, 20, ratioOf(2.3f)),
              std::nullopt);
    EXPECT_EQ(measured, (std::vector<std::size_t>{20, 20}));
    DecodingOptions noThreshold;
    noThreshold.compressionRatioThreshold.reset();
    EXPECT_EQ(AudioStreamTranscriber::shouldStopEarly(progressWith(21), noThreshold, 20, ratioOf(0.01f)),
              false);
    EXPECT_EQ(AudioStreamTranscriber::shouldStopEarly(progressWith(5, -1.5f), options, 20, ratioOf(1)),
              false);
    EXPECT_EQ(AudioStreamTranscriber::shouldStopEarly(progressWith(5, -0.5f), options, 20, ratioOf(1)),
              std::nullopt);
}

} // namespace
} // namespace vocalith
