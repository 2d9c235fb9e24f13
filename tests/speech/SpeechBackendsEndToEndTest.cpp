#include "engine/diarization/config/DiarithConfig.h"
#include "platform/concurrency/ManualClock.h"
#include "platform/concurrency/TimerScheduler.h"
#include "platform/fs/Files.h"
#include "platform/text/Lines.h"
#include "session/settings/HallucinationFilterStore.h"
#include "session/support/FakeSecretStore.h"
#include "speech/SpeechBackends.h"
#include "speech/ondevice/VocalithEngine.h"
#include "speech/ondevice/WhisperTranscriptionService.h"
#include "speech/speakers/LocalSpeakerDiarizationService.h"
#include "support/CraftedVariant.h"
#include "support/FakeHub.h"
#include "support/ModelSets.h"
#include "support/TempDir.h"
#include "support/ToneFiles.h"

#include <gtest/gtest.h>
#include <regex>
#include <set>

namespace velnote {
namespace {
namespace fs = std::filesystem;

// One session transcribed on the device with speaker labels: the crafted speech variant ("Hello
// world." in every window) and the diarization engine's tone models, both fetched from a hub on
// 127.0.0.1.
class SpeechBackendsEndToEnd : public ::testing::Test {
  protected:
    SpeechBackendsEndToEnd() {
        HallucinationFilterStore::saveEntries({}, settings_);
        testing::TempDir variant;
        vocalith::testing::CraftedVariant{}.write(variant.path());
        for (const auto& [path, content] : vocalith::testing::filesBelow(variant.path()))
            hub_.addFile("quorvaneinc/vocalith-coreml", "openai_whisper-tiny/" + path, content);
        fs::create_directories(session_ / "audio");
        // Low tone, high tone, low tone: two speakers.
        for (const auto& [name, hz] : std::vector<std::pair<std::string, double>>{
                 {"mic_0000.wav", 300}, {"mic_0001.wav", 3000}, {"mic_0002.wav", 300}})
            testing::ToneFiles::write(session_ / "audio" / name, 16000, 1, {{10, hz, 0.5}});
    }

    void serveToneModels() {
        const fs::path models = diarith::testing::modelSet(diarith::GeneratedWeights::tone);
        for (const auto& [path, content] : vocalith::testing::filesBelow(models))
            hub_.addFile(diarith::kDefaultModelRepo, path, content);
    }

    SessionTranscriptionOutput run() {
        WhisperTranscriptionService transcription(
            {.clock = clock_,
             .timers = timers_,
             .scheduler = scheduler_,
             .makeEngine = vocalithEngineFactory(),
             .cache = std::make_shared<const SpeechResultCache>(dir_ / "cache"),
             .modelEndpoint = hub_.endpoint(),
             .downloadBase = dir_ / "hub"});
        auto labelling =
            std::make_shared<LocalSpeakerDiarizationService>(LocalSpeakerDiarizationService::Settings{
                .modelEndpoint = hub_.endpoint(), .downloadBase = (dir_ / "hub").string()});
        SessionTranscriptionPipeline pipeline(
            speechBackends(std::shared_ptr<TranscriptionServiceProtocol>(&transcription, [](auto*) {}),
                           labelling),
            KeychainHelper(std::make_shared<testing::FakeSecretStore>()), settings_);
        const TranscriptionRequest request{.sessionDir = session_,
                                           .model = "tiny",
                                           .diarizationEnabled = true,
                                           .micInputGain = 1,
                                           .sysInputGain = 1};
        return pipeline.runPipeline(session_, request, SessionConfig{}).get();
    }

    testing::TempDir dir_;
    fs::path session_ = dir_ / "2025-01-31T09-15-00Z";
    platform::SettingsStore settings_{dir_ / "settings.json"};
    basalith::testing::FakeHub hub_;
    platform::ManualClock clock_;
    platform::TimerScheduler timers_{clock_};
    ModelExecutionScheduler scheduler_{clock_};
};

TEST_F(SpeechBackendsEndToEnd, DiarizedLinesCarryTheSpeakerAndTime) {
    serveToneModels();
    const auto output = run();
    EXPECT_FALSE(output.diarizationFailure);
    const std::string transcript = platform::readFile(output.transcriptPath);
    const std::regex line(R"(\[MIC SPEAKER_0[01] 00:00:[0-9]{2}\] Hello world\.)");
    std::size_t lines = 0;
    std::set<std::string> speakers;
    for (const auto& text : platform::splitLines(transcript)) {
        EXPECT_TRUE(std::regex_match(text, line)) << text;
        speakers.insert(text.substr(0, 15));
        ++lines;
    }
    EXPECT_GE(lines, 3u) << transcript;
    EXPECT_EQ(speakers.size(), 2u) << transcript;
}

// No diarization models to be had: the transcript is written all the same, without speakers.
TEST_F(SpeechBackendsEndToEnd, UnreachableDiarizationModelsStillGiveATranscript) {
    const auto output = run();
    ASSERT_TRUE(output.diarizationFailure);
    EXPECT_FALSE(output.diarizationFailure->empty());
    const auto lines = platform::splitLines(platform::readFile(output.transcriptPath));
    EXPECT_GE(lines.size(), 3u);
    for (const auto& text : lines)
        EXPECT_EQ(text, "[mic] Hello world.");
}

} // namespace
} // namespace velnote
