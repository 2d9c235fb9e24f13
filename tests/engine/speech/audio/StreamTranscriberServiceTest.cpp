#include "engine/speech/audio/AudioStreamTranscriber.h"
#include "support/FakeStreamTranscription.h"
#include "support/PulseTestServer.h"
#include "support/TestAudio.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <thread>

namespace vocalith {
namespace {

using testing::FakeTranscriptionTask;
using testing::TestAudio;
using testing::waitFor;
using velnote::testing::PulseTestServer;

// Runs the transcriber's loop on a thread of its own. Whatever a test asserts, the loop is stopped
// before the thread is joined, again and again until it has ended: a stop that comes before the
// start has set up its capture would leave the loop running.
class LoopThread {
  public:
    explicit LoopThread(AudioStreamTranscriber& transcriber)
        : transcriber_(transcriber), thread_([this] {
              transcriber_.startStreamTranscription();
              ended_ = true;
          }) {}
    ~LoopThread() {
        while (!ended_) {
            transcriber_.stopStreamTranscription();
            waitFor([this] { return ended_.load(); }, std::chrono::milliseconds(200));
        }
    }
    LoopThread(const LoopThread&) = delete;
    LoopThread& operator=(const LoopThread&) = delete;

    bool ended() const { return ended_; }

  private:
    AudioStreamTranscriber& transcriber_;
    std::atomic<bool> ended_{false};
    std::jthread thread_;
};

// Half a second of silence, then a tone: the voice check measures each buffer against the quietest
// of the recent ones, so a sound is voice only when quieter audio came before it (as speech after
// a pause); a steady tone from the first buffer on is background.
void writeSpeech(const std::filesystem::path& path) {
    std::vector<float> samples(8000, 0.0f);
    for (int i = 0; i < 40000; ++i)
        samples.push_back(0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 300 * i / 16000.0)));
    TestAudio::writeMono(path, 16000, samples);
}

// The transcriber on a real recording: what is played into the default input reaches the task in
// growing passes, and the capture ends with the transcriber.
TEST(StreamTranscriberServiceTest, TranscribesWhatTheMicrophoneHears) {
    PulseTestServer server;
    velnote::testing::TempDir dir;
    auto processor = std::make_shared<AudioProcessor>();
    auto task = std::make_shared<FakeTranscriptionTask>();
    task->script = {testing::segmentsEndingAt({1, 2, 3})};
    AudioStreamTranscriber transcriber(task, processor, DecodingOptions(), 1, 0.3f, 20, /*useVAD=*/true, {});
    LoopThread loop(transcriber);
    ASSERT_TRUE(waitFor([&] { return processor->hasAudioEngine(); }));

    writeSpeech(dir / "speech.wav");
    PulseTestServer::run("paplay -d mic " + (dir / "speech.wav").string());
    ASSERT_TRUE(waitFor([&] { return task->calls() >= 1; }));
    EXPECT_GT(task->sampleCounts().front(), 16000u);
    ASSERT_TRUE(waitFor([&] { return transcriber.state().confirmedSegments.size() == 2; }));
    EXPECT_FALSE(transcriber.state().bufferEnergy.empty());

    transcriber.stopStreamTranscription();
    ASSERT_TRUE(waitFor([&] { return loop.ended(); }));
    EXPECT_FALSE(processor->hasAudioEngine());
}

} // namespace
} // namespace vocalith
