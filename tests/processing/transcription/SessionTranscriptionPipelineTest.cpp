#include "processing/transcription/SessionTranscriptionPipeline.h"

#include "capture/mixer/support/WavFixtures.h"
#include "platform/concurrency/CancellationError.h"
#include "platform/error/DomainError.h"
#include "platform/fs/Files.h"
#include "platform/logging/Logger.h"
#include "processing/transcription/NativeTranscriptionError.h"
#include "session/VelnoteLogger.h"
#include "session/settings/HallucinationFilterStore.h"
#include "session/support/FakeSecretStore.h"
#include "support/TempDir.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <map>

namespace velnote {
namespace {
namespace fs = std::filesystem;
using testing::WavFixtures;

// A speech back-end that checks every chunk it gets is real audio and answers
// each track with the segments scripted for its source, texts sanitized.
class FakeBackend final : public SpeechProcessingPipeline {
  public:
    std::vector<SpeechSegment> process(const AudioSourceTrack& track, const SpeechProcessingConfig& config,
                                       const TextSanitizer& textSanitizer, std::stop_token stop) override {
        tracks.push_back(track);
        configs.push_back(config);
        for (const auto& chunk : track.chunkPaths) {
            if (WavFixtures::read(chunk).samples.empty())
                throw std::runtime_error("silent chunk " + chunk.string());
        }
        if (onProcess)
            onProcess(stop);
        auto segments = script[track.source];
        for (auto& segment : segments)
            segment.text = textSanitizer(segment.text);
        return segments;
    }

    std::map<std::string, std::vector<SpeechSegment>> script; // by track source
    std::optional<std::string> diarizationFailure() const override { return diarizationError; }

    std::function<void(std::stop_token)> onProcess;
    std::optional<std::string> diarizationError;
    std::vector<AudioSourceTrack> tracks;
    std::vector<SpeechProcessingConfig> configs;
};

SpeechSegment segment(std::string text, double start, std::optional<std::string> speaker = std::nullopt) {
    return {std::move(text), start, start, std::nullopt, std::move(speaker)};
}

class SessionTranscriptionPipelineTest : public ::testing::Test {
  protected:
    SessionTranscriptionPipelineTest() { HallucinationFilterStore::saveEntries({}, settings_); }

    fs::path audio() const {
        fs::create_directories(session_ / "audio");
        return session_ / "audio";
    }
    void tones(std::initializer_list<const char*> names) const {
        for (const char* name : names)
            WavFixtures::writeTone(audio() / name);
    }
    // Makes `name` a folder with content, which no file operation can replace.
    void block(const std::string& name) const { fs::create_directories(audio() / name / "in-the-way"); }

    SessionTranscriptionOutput run(double micGain = 1.0, double sysGain = 1.0,
                                   const SessionConfig& config = {}) {
        const TranscriptionRequest request{.sessionDir = session_,
                                           .model = "small",
                                           .language = "ja",
                                           .numberOfSpeakers = 2,
                                           .micInputGain = micGain,
                                           .sysInputGain = sysGain};
        return pipeline_->runPipeline(session_, request, config).get();
    }

    std::vector<std::string> audioNames() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(session_ / "audio"))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<fs::path> inAudio(std::initializer_list<const char*> names) const {
        std::vector<fs::path> paths;
        for (const char* name : names)
            paths.push_back(session_ / "audio" / name);
        return paths;
    }
    std::string transcript() const { return platform::readFile(session_ / "transcript.txt"); }
    std::string raw() const { return platform::readFile(session_ / "transcript.raw.txt"); }

    testing::TempDir dir_;
    fs::path session_ = dir_ / "2025-01-31T09-15-00Z";
    platform::SettingsStore settings_{dir_ / "settings.json"};
    std::shared_ptr<testing::FakeSecretStore> secrets_ = std::make_shared<testing::FakeSecretStore>();
    std::shared_ptr<FakeBackend> backend_ = std::make_shared<FakeBackend>();
    std::optional<std::pair<std::string, std::string>>
        remoteArgs_; // written on the pipeline, read after get()
    platform::LogCapture log_;
    std::unique_ptr<SessionTranscriptionPipeline> pipeline_ = std::make_unique<SessionTranscriptionPipeline>(
        SessionTranscriptionPipeline::Backends{
            .local = [this] { return backend_; },
            .remote =
                [this](const std::string& baseURL, const std::string& apiKey) {
                    remoteArgs_ = {baseURL, apiKey};
                    return backend_;
                }},
        KeychainHelper(secrets_), settings_);
};

TEST_F(SessionTranscriptionPipelineTest, SeparateTracksCarrySourceLabelsAndSortByTimeThenLine) {
    tones({"mic_0001.wav", "mic_0000.wav", "sys_0000.wav"});
    block("mix_m1.0_s1.0_0000.wav"); // the mixer cannot finish
    backend_->script["mic"] = {segment("b", 10.0), segment("late", 3725.5)};
    backend_->script["sys"] = {segment("a", 10.0), segment("  [Music] ", 1.0)};

    const auto output = run();
    EXPECT_EQ(output.transcriptPath, session_ / "transcript.txt");
    EXPECT_EQ(transcript(), "[SYS 00:00:01] \n[MIC 00:00:10] b\n[SYS 00:00:10] a\n[MIC 01:02:05] late\n");
    EXPECT_EQ(raw(), "b\nlate\na\n") << "raw texts keep the track order";
    EXPECT_EQ(backend_->tracks,
              (std::vector<AudioSourceTrack>{{"mic", inAudio({"mic_0000.wav", "mic_0001.wav"})},
                                             {"sys", inAudio({"sys_0000.wav"})}}));
    EXPECT_EQ(backend_->configs.front(),
              (SpeechProcessingConfig{.model = "small", .language = "ja", .numberOfSpeakers = 2}));
    EXPECT_TRUE(log_.contains("failed to build mixed chunks, fallback to separate tracks"));
    EXPECT_TRUE(fs::exists(audio() / "mic_0000.wav") && fs::exists(audio() / "sys_0000.wav"));
}

TEST_F(SessionTranscriptionPipelineTest, SingleTrackLinesHaveNoLabelAndTimesFromTheFloatStart) {
    tones({"mic_0000.wav"});
    HallucinationFilterStore::saveEntries({{platform::Uuid::random(), "字幕", true}}, settings_);
    backend_->script["mic"] = {segment("x", 12.7),
                               segment("", 3599.99),
                               segment("y", 360000.0),
                               segment("neg", -2.5),
                               segment("nan", std::nan("")),
                               segment("Hello", 75.9, "MIC SPEAKER_01 00:01:15"),
                               segment("字幕\u3000こんにちは", 1.0)};
    run();
    EXPECT_EQ(transcript(), "[00:00:00] neg\n"
                            "[00:00:00] nan\n"
                            "[00:00:01] こんにちは\n"
                            "[00:00:12] x\n"
                            "[MIC SPEAKER_01 00:01:15] Hello\n"
                            "[00:59:59] \n"
                            "[100:00:00] y\n");
    EXPECT_EQ(raw(), "x\n\ny\nneg\nnan\nHello\nこんにちは\n");
}

TEST_F(SessionTranscriptionPipelineTest, EntriesKeepTheNarrowedStart) {
    EXPECT_EQ(SessionTranscriptionPipeline::makeEntry(segment("Hello", 75.9), "").startTime, 75.9f);
    const auto big = SessionTranscriptionPipeline::makeEntry(segment("z", 16777217.0), "MIC ");
    EXPECT_EQ(big.startTime, 16777216.0f);
    EXPECT_EQ(big.line, "[MIC 4660:20:16] z");
    EXPECT_EQ(SessionTranscriptionPipeline::makeEntry(segment("i", INFINITY), "").line, "[00:00:00] i");
}

TEST_F(SessionTranscriptionPipelineTest, MixedTrackOfTheCurrentGainsReplacesTheSeparateChunks) {
    tones({"mic_0000.wav", "mic_0001.wav", "sys_0000.wav", "sys_0001.wav", "mic_notes.wav",
           "mix_m2.0_s1.0_0000.wav", "mix_temp_0C247A3E.wav"});
    std::ofstream(audio() / "mic_0000.flac") << "kept";
    backend_->script["mix"] = {segment("hello", 0.5)};

    run(0.0, -1.0);
    EXPECT_EQ(backend_->tracks, (std::vector<AudioSourceTrack>{
                                    {"mix", inAudio({"mix_m1.0_s1.0_0000.wav", "mix_m1.0_s1.0_0001.wav"})}}))
        << "gains not above 0 mix at 1.0; another gain set and temporary files are no part of the track";
    EXPECT_EQ(transcript(), "[00:00:00] hello\n");
    EXPECT_EQ(audioNames(),
              (std::vector<std::string>{"mic_0000.flac", "mic_notes.wav", "mix_m1.0_s1.0_0000.wav",
                                        "mix_m1.0_s1.0_0001.wav", "mix_m2.0_s1.0_0000.wav"}))
        << "numbered WAV sources the mix holds are gone; the leftover temporary file too";
}

TEST_F(SessionTranscriptionPipelineTest, AnIncompleteMixIsNeverTranscribedNorAreItsSourcesDeleted) {
    tones({"mic_0000.wav", "mic_0001.wav", "sys_0000.wav", "sys_0001.wav"});
    block("mix_m1.0_s1.0_0001.wav");
    backend_->script = {
        {"mic", {segment("m", 1)}}, {"sys", {segment("s", 11)}}, {"mix", {segment("both", 1)}}};

    for (int attempt = 0; attempt < 2; ++attempt) {
        tones({"mix_temp_DEADBEEF.wav"}); // as a crash in the middle of a mix leaves it
        backend_->tracks.clear();
        run();
        EXPECT_EQ(backend_->tracks,
                  (std::vector<AudioSourceTrack>{{"mic", inAudio({"mic_0000.wav", "mic_0001.wav"})},
                                                 {"sys", inAudio({"sys_0000.wav", "sys_0001.wav"})}}))
            << "attempt " << attempt;
        EXPECT_EQ(transcript(), "[MIC 00:00:01] m\n[SYS 00:00:11] s\n");
        EXPECT_EQ(audioNames(),
                  (std::vector<std::string>{"mic_0000.wav", "mic_0001.wav", "mix_m1.0_s1.0_0000.wav",
                                            "mix_m1.0_s1.0_0001.wav", "sys_0000.wav", "sys_0001.wav"}));
    }

    fs::remove_all(audio() / "mix_m1.0_s1.0_0001.wav");
    backend_->tracks.clear();
    run();
    EXPECT_EQ(backend_->tracks, (std::vector<AudioSourceTrack>{
                                    {"mix", inAudio({"mix_m1.0_s1.0_0000.wav", "mix_m1.0_s1.0_0001.wav"})}}));
    EXPECT_EQ(audioNames(), (std::vector<std::string>{"mix_m1.0_s1.0_0000.wav", "mix_m1.0_s1.0_0001.wav"}));
}

TEST_F(SessionTranscriptionPipelineTest, SilentMixedTrackIsRetriedAsSeparateTracksWhichStay) {
    tones({"mic_0000.wav", "sys_0000.wav"});
    backend_->script = {{"mic", {segment("m", 1)}}, {"sys", {segment("s", 1)}}};
    run();
    ASSERT_EQ(backend_->tracks.size(), 3u);
    EXPECT_EQ(backend_->tracks[0].source, "mix");
    EXPECT_EQ(transcript(), "[MIC 00:00:01] m\n[SYS 00:00:01] s\n");
    EXPECT_TRUE(log_.contains("mixed track produced empty transcript; retry with separate mic/sys tracks"));
    EXPECT_EQ(audioNames(),
              (std::vector<std::string>{"mic_0000.wav", "mix_m1.0_s1.0_0000.wav", "sys_0000.wav"}));
}

TEST_F(SessionTranscriptionPipelineTest, MixedChunksAloneAreOneTrackWhateverTheRequestedGains) {
    tones({"mix_m1.0_s1.0_0001.wav", "mix_m1.0_s1.0_0000.wav"});
    try {
        run(2.0, 2.0);
        FAIL() << "a silent mixed track with no separate chunks has nothing to retry";
    } catch (const NativeTranscriptionError& error) {
        EXPECT_EQ(error.kind(), NativeTranscriptionError::Kind::emptyTranscript);
    }
    EXPECT_FALSE(fs::exists(session_ / "transcript.txt"));
    EXPECT_TRUE(log_.contains("transcript entries are empty after retry"));

    backend_->tracks.clear();
    backend_->script["mix"] = {segment("t", 3)};
    run(2.0, 2.0);
    EXPECT_EQ(backend_->tracks, (std::vector<AudioSourceTrack>{
                                    {"mix", inAudio({"mix_m1.0_s1.0_0000.wav", "mix_m1.0_s1.0_0001.wav"})}}));
    EXPECT_EQ(transcript(), "[00:00:03] t\n");
    EXPECT_EQ(audioNames().size(), 2u) << "nothing was mixed";
    EXPECT_TRUE(log_.contains("existing mixed chunks detected count=2; skip mix rebuild"));
}

TEST_F(SessionTranscriptionPipelineTest, LeftoverMixedSetCountsOnlyWhenItCoversTheRemainingChunks) {
    tones({"mix_m1.0_s1.0_0000.wav", "mic_0000.wav", "mic_0001.wav"});
    backend_->script = {{"mic", {segment("m", 0)}}, {"mix", {segment("x", 0)}}};
    run();
    EXPECT_EQ(backend_->tracks,
              (std::vector<AudioSourceTrack>{{"mic", inAudio({"mic_0000.wav", "mic_0001.wav"})}}));
    EXPECT_EQ(audioNames().size(), 3u);

    fs::remove(audio() / "mic_0001.wav");
    backend_->tracks.clear();
    run();
    EXPECT_EQ(backend_->tracks,
              (std::vector<AudioSourceTrack>{{"mix", inAudio({"mix_m1.0_s1.0_0000.wav"})}}));
    EXPECT_EQ(audioNames(), (std::vector<std::string>{"mix_m1.0_s1.0_0000.wav"}));
}

TEST_F(SessionTranscriptionPipelineTest, NoTrackFailsWithNoAudioChunks) {
    EXPECT_THROW(run(), NativeTranscriptionError) << "no audio folder";
    EXPECT_TRUE(log_.contains("SessionTranscriptionPipeline: failed to list audio dir audio"));
    EXPECT_TRUE(log_.contains("no audio chunks found in session"));

    std::ofstream(audio() / "mic_0000.flac") << "x";
    std::ofstream(audio() / "notes.wav") << "x";
    try {
        run();
        FAIL();
    } catch (const NativeTranscriptionError& error) {
        EXPECT_EQ(error.kind(), NativeTranscriptionError::Kind::noAudioChunks);
    }
    EXPECT_TRUE(backend_->tracks.empty());
}

// Back-ends installed after construction serve the next run.
TEST_F(SessionTranscriptionPipelineTest, InstalledBackendsServeLaterRuns) {
    tones({"mic_0000.wav"});
    backend_->script["mic"] = {segment("hi", 0)};
    pipeline_->setBackends({});
    EXPECT_THROW(run(), std::logic_error);
    pipeline_->setBackends({.local = [this] { return backend_; }, .remote = {}});
    run();
    EXPECT_EQ(transcript(), "[00:00:00] hi\n");
}

TEST_F(SessionTranscriptionPipelineTest, RemoteProviderNeedsAStoredKey) {
    SessionConfig config;
    config.transcription.provider = TranscriptionProvider::openAI;
    try {
        run(1.0, 1.0, config);
        FAIL() << "no key, and no audio either";
    } catch (const platform::DomainError& error) {
        EXPECT_EQ(error.domain(), "SessionTranscriptionPipeline");
        EXPECT_EQ(error.code(), 401);
        EXPECT_STREQ(error.what(), "OpenAI API Key is missing. Please set it in preferences.");
    }
    EXPECT_FALSE(remoteArgs_);

    secrets_->items[{kBundleIdentifier, KeychainHelper::openAIAPIKey}] = "  ";
    tones({"sys_0000.wav"});
    backend_->script["sys"] = {segment("s", 0)};
    run(1.0, 1.0, config);
    EXPECT_EQ(remoteArgs_, (std::pair<std::string, std::string>{"", "  "})) << "a key of blanks passes";

    config.transcription.providerBaseURL = "http://127.0.0.1:9/v1";
    run(1.0, 1.0, config);
    EXPECT_EQ(remoteArgs_->first, "http://127.0.0.1:9/v1");
}

TEST_F(SessionTranscriptionPipelineTest, BackEndFailureEndsTheRunWithItsError) {
    tones({"mic_0000.wav", "sys_0000.wav"});
    backend_->onProcess = [](std::stop_token) { throw std::runtime_error("engine down"); };
    EXPECT_THROW(
        {
            try {
                run();
            } catch (const std::runtime_error& error) {
                EXPECT_STREQ(error.what(), "engine down");
                throw;
            }
        },
        std::runtime_error);
    EXPECT_FALSE(fs::exists(session_ / "transcript.txt"));
    EXPECT_EQ(audioNames(),
              (std::vector<std::string>{"mic_0000.wav", "mix_m1.0_s1.0_0000.wav", "sys_0000.wav"}));
}

TEST_F(SessionTranscriptionPipelineTest, CancellingTheRunReachesTheBackEnd) {
    tones({"mic_0000.wav"});
    std::promise<void> entered;
    backend_->onProcess = [&entered](std::stop_token stop) {
        entered.set_value();
        std::mutex mutex;
        std::condition_variable_any wake;
        std::unique_lock lock(mutex);
        wake.wait(lock, stop, [] { return false; });
        platform::throwIfCancelled(stop);
    };
    auto task =
        pipeline_->runPipeline(session_, {session_, "small", std::nullopt, false, std::nullopt, 1, 1}, {});
    entered.get_future().wait();
    task.cancel();
    EXPECT_THROW(task.get(), platform::CancellationError);
    EXPECT_FALSE(fs::exists(session_ / "transcript.txt"));
}

TEST_F(SessionTranscriptionPipelineTest, ReportsADiarizationThatFellBackToLinesWithoutSpeakers) {
    tones({"mic_0000.wav"});
    backend_->script["mic"] = {segment("hello", 1.0, "MIC")};
    backend_->diarizationError = "speaker model missing";
    for (const bool diarize : {true, false}) {
        const TranscriptionRequest request{
            .sessionDir = session_, .model = "small", .language = "ja", .diarizationEnabled = diarize};
        const auto output = pipeline_->runPipeline(session_, request, {}).get();
        EXPECT_EQ(output.diarizationFailure,
                  diarize ? std::optional<std::string>("speaker model missing") : std::nullopt);
    }
}

} // namespace
} // namespace velnote
