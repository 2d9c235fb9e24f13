#include "engine/foundation/support/LogLines.h"
#include "engine/speech/audio/AudioProcessor.h"
#include "platform/audio/AudioServerError.h"
#include "platform/audio/PulseClient.h"
#include "support/PulseTestServer.h"
#include "support/TestAudio.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace vocalith {
namespace {

using namespace std::chrono_literals;
using basalith::testing::LogLines;
using testing::TestAudio;
using velnote::testing::PulseTestServer;

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

float rms(const std::vector<float>& samples, std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += static_cast<double>(samples[i]) * samples[i];
    return static_cast<float>(std::sqrt(sum / static_cast<double>(to - from)));
}

// The loudest 0.25 s of the recording.
float loudestQuarterSecond(const std::vector<float>& samples) {
    float loudest = 0;
    for (std::size_t start = 0; start + 4000 <= samples.size(); start += 1000)
        loudest = std::max(loudest, rms(samples, start, start + 4000));
    return loudest;
}

std::optional<DeviceID> sourceIndex(const std::string& name) {
    velnote::platform::PulseClient client;
    client.connect();
    const auto source = client.source(name);
    return source ? std::optional<DeviceID>(source->index) : std::nullopt;
}

class LiveRecordingServiceTest : public ::testing::Test {
  protected:
    // Plays a tone into a sink and returns when it has been played.
    void play(const std::string& sink, int rate, int channels, double seconds, double frequency = 440) {
        const auto path = dir / ("tone" + std::to_string(rate) + ".wav");
        TestAudio::writeTone(path, rate, channels, seconds, {}, frequency, 0.5);
        PulseTestServer::run("paplay -d " + sink + " " + path.string());
    }

    PulseTestServer server;
    velnote::testing::TempDir dir;
};

// The default input is the "mic" sink's monitor: what is played into "mic" is recorded, buffer by
// buffer, with an energy record and a callback for each.
TEST_F(LiveRecordingServiceTest, RecordsTheDefaultInputBufferByBuffer) {
    AudioProcessor processor;
    std::atomic<std::size_t> delivered{0};
    std::atomic<int> callbacks{0};
    std::mutex sizesMutex;
    std::vector<std::size_t> sizes;
    processor.startRecordingLive(std::nullopt, [&](const std::vector<float>& samples) {
        delivered += samples.size();
        ++callbacks;
        std::lock_guard lock(sizesMutex);
        sizes.push_back(samples.size());
    });
    EXPECT_TRUE(processor.hasAudioEngine());
    play("mic", 16000, 1, 1.0);
    ASSERT_TRUE(waitFor([&] { return processor.audioSamples().size() >= 20000; }));
    processor.stopRecording();
    EXPECT_FALSE(processor.hasAudioEngine());

    const auto samples = processor.audioSamples();
    EXPECT_NEAR(loudestQuarterSecond(samples), 0.5f / std::sqrt(2.0f), 0.02f);
    EXPECT_EQ(delivered.load(), samples.size());
    EXPECT_EQ(processor.relativeEnergy().size(), static_cast<std::size_t>(callbacks.load()));
    EXPECT_EQ(processor.relativeEnergy().front(), 0.0f);
    // The server cuts its blocks as it likes; each buffer (the last, cut by the stop, aside) is
    // minBufferLength frames, 0.1 s at the input's 16 kHz, as the voice check counts on.
    {
        std::lock_guard lock(sizesMutex);
        ASSERT_GE(sizes.size(), 2u);
        for (std::size_t i = 0; i + 1 < sizes.size(); ++i)
            EXPECT_EQ(sizes[i], 1600u) << "buffer " << i;
        EXPECT_LE(sizes.back(), 1600u);
    }
    // The stores stay until the next start, which empties them.
    EXPECT_EQ(processor.audioSamples().size(), samples.size());
}

// A 48 kHz stereo input arrives as 16 kHz mono, the tone's pitch kept.
TEST_F(LiveRecordingServiceTest, ResamplesAnotherRateAndLayout) {
    const auto speaker = sourceIndex("speaker.monitor");
    ASSERT_TRUE(speaker);
    AudioProcessor processor;
    processor.startRecordingLive(speaker);
    play("speaker", 48000, 2, 1.0, 500);
    ASSERT_TRUE(waitFor([&] { return processor.audioSamples().size() >= 24000; }));
    processor.stopRecording();
    const auto samples = processor.audioSamples();
    // Find the tone and count its zero crossings over 0.5 s: 500 Hz crosses 500 times.
    std::size_t start = 0;
    while (start + 8000 < samples.size() && rms(samples, start, start + 800) < 0.2f)
        start += 800;
    ASSERT_LT(start + 9600, samples.size()) << "no tone recorded";
    start += 800;
    int crossings = 0;
    for (std::size_t i = start + 1; i < start + 8000; ++i)
        crossings += (samples[i - 1] < 0) != (samples[i] < 0);
    EXPECT_NEAR(crossings, 500, 6);
}

TEST_F(LiveRecordingServiceTest, ListsInputsAndChoosesOne) {
    PulseTestServer::pactl("load-module module-null-source source_name=extra "
                           "description=ExtraMic");
    const auto devices = AudioProcessor::getAudioDevices();
    auto named = [&](const std::string& name) {
        return std::find_if(devices.begin(), devices.end(), [&](const auto& d) { return d.name == name; });
    };
    ASSERT_NE(named("ExtraMic"), devices.end());
    EXPECT_NE(named("Monitor of FakeMic"), devices.end()); // the default input, though a monitor
    EXPECT_EQ(named("Monitor of FakeSpeaker"), devices.end());
    EXPECT_EQ(named("ExtraMic")->id, sourceIndex("extra"));

    // An id the server does not know: logged, and the default input is recorded.
    AudioProcessor processor;
    LogLines log(basalith::Logging::LogLevel::error);
    processor.startRecordingLive(DeviceID{9999});
    EXPECT_TRUE(log.contains("Error setting input device: no input with id 9999"));
    play("mic", 16000, 1, 0.5);
    EXPECT_TRUE(waitFor([&] { return loudestQuarterSecond(processor.audioSamples()) > 0.3f; }));
}

TEST_F(LiveRecordingServiceTest, PauseCapturesNothingUntilResumed) {
    AudioProcessor processor;
    processor.startRecordingLive();
    ASSERT_TRUE(waitFor([&] { return processor.audioSamples().size() >= 3200; }));
    processor.pauseRecording();
    EXPECT_TRUE(processor.hasAudioEngine());
    const std::size_t paused = processor.audioSamples().size();
    play("mic", 16000, 1, 0.5);
    EXPECT_EQ(processor.audioSamples().size(), paused);

    std::atomic<int> calls{0};
    processor.resumeRecordingLive(std::nullopt, [&](const std::vector<float>&) { ++calls; });
    play("mic", 16000, 1, 0.5);
    ASSERT_TRUE(waitFor([&] { return calls > 0 && loudestQuarterSecond(processor.audioSamples()) > 0.3f; }));
    EXPECT_GT(processor.audioSamples().size(), paused); // the stores were kept
}

TEST_F(LiveRecordingServiceTest, SuppressedInputIsStoredAsSilence) {
    AudioProcessor processor;
    processor.setInputSuppressed(true);
    processor.startRecordingLive();
    play("mic", 16000, 1, 0.5);
    ASSERT_TRUE(waitFor([&] { return processor.audioSamples().size() >= 8000; }));
    processor.stopRecording();
    const auto samples = processor.audioSamples();
    EXPECT_TRUE(std::all_of(samples.begin(), samples.end(), [](float s) { return s == 0.0f; }));
    const auto energies = processor.audioEnergy();
    EXPECT_TRUE(std::all_of(energies.begin(), energies.end(),
                            [](const AudioEnergy& e) { return e == AudioEnergy{}; }));
}

TEST_F(LiveRecordingServiceTest, StreamingFormEndsTheRecordingWithTheStream) {
    AudioProcessor processor;
    auto recording = processor.startStreamingRecordingLive();
    play("mic", 16000, 1, 0.3);
    std::size_t received = 0;
    while (received < 4800) {
        const auto samples = recording.stream->next();
        ASSERT_TRUE(samples);
        received += samples->size();
    }
    recording.stream.reset();
    EXPECT_FALSE(processor.hasAudioEngine());
    EXPECT_FALSE(processor.audioBufferCallback());
}

TEST_F(LiveRecordingServiceTest, NoServerFailsTheStartAndEndsTheStream) {
    server.stop();
    AudioProcessor processor;
    EXPECT_THROW(processor.startRecordingLive(), velnote::platform::AudioServerError);
    EXPECT_FALSE(processor.hasAudioEngine());
    EXPECT_TRUE(processor.audioSamples().empty());
    auto recording = processor.startStreamingRecordingLive();
    EXPECT_THROW(recording.stream->next(), velnote::platform::AudioServerError);
    LogLines log(basalith::Logging::LogLevel::error);
    EXPECT_TRUE(AudioProcessor::getAudioDevices().empty());
    EXPECT_TRUE(log.contains("Error: Unable to get the number of audio devices."));
}

} // namespace
} // namespace vocalith
