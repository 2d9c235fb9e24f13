#include "app/state/AppState.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/fs/Files.h"
#include "platform/speech/PocketSphinxRecognizer.h"
#include "speech/live/RealtimeTranscriptionActor.h"
#include "support/TempDir.h"

#include <cstring>
#include <gtest/gtest.h>

namespace velnote {
namespace {

// The live transcription on the real recogniser, fed like the microphone capture feeds it.
class RealtimeTranscriptionPocketSphinxTest : public ::testing::Test {
  protected:
    RealtimeTranscriptionPocketSphinxTest() { platform::MainDispatcher::shared().runPending(); }

    testing::TempDir dir_;
    RealtimeTranscriptionActor actor_{{.recognizer = std::make_shared<platform::PocketSphinxRecognizer>(
                                           platform::PocketSphinxRecognizer::installedModels()),
                                       .authorizer = std::make_shared<platform::SystemSpeechAuthorizer>(),
                                       .clock = nullptr,
                                       .timers = nullptr,
                                       .currentLocale = [] { return std::string("en-US"); }}};
};

TEST_F(RealtimeTranscriptionPocketSphinxTest, RecordedSpeechOnTheMicrophoneReachesTheLiveTranscript) {
    const auto bytes = platform::readFile("/usr/share/pocketsphinx/test/data/goforward.raw");
    std::vector<float> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        std::int16_t value = 0;
        std::memcpy(&value, bytes.data() + 2 * i, 2);
        samples[i] = static_cast<float>(value) / 32768.0f;
    }
    actor_.startSession(dir_.path(), "en").get();
    for (std::size_t at = 0; at < samples.size(); at += 1600) {
        const std::size_t count = std::min<std::size_t>(1600, samples.size() - at);
        actor_.yieldMicBuffer(std::span(samples).subspan(at, count), {16000, 1});
        actor_.lines().get(); // a capture runs in real time: the queue of 32 never overflows
    }
    actor_.stopSession().get();
    const std::string transcript = platform::readFile(dir_ / "transcript.live.txt");
    EXPECT_NE(transcript.find("forward"), std::string::npos) << transcript;
    EXPECT_EQ(transcript.rfind("[00:0", 0), 0u) << transcript;
}

TEST_F(RealtimeTranscriptionPocketSphinxTest, AJapaneseSessionShowsThatNoModelIsInstalled) {
    actor_.startSession(dir_.path(), "ja").get();
    platform::MainDispatcher::shared().runPending();
    EXPECT_EQ(AppState::shared().liveTranscriptError(),
              "The speech recognition model for \"日本語\" is not available.");
    actor_.stopSession().get();
}

} // namespace
} // namespace velnote
