// The whole engine on the real base model (converted from the pinned checkpoint that
// scripts/fetch-models unpacks) and real recordings: book passages read aloud and telephone prompts
// recorded at 8 kHz, each transcribed into the words it says.

#include "engine/speech/Vocalith.h"
#include "engine/speech/audio/AudioProcessor.h"
#include "platform/ml/convert/ModelConverter.h"
#include "support/SpeechCorpus.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace vocalith {
namespace {

namespace fs = std::filesystem;
using testing::dependencyCache;
using testing::Recording;
using testing::wordErrors;

std::string textOf(const std::vector<TranscriptionResultPtr>& results) {
    std::string text;
    for (const auto& result : results)
        text += result->text() + " ";
    return text;
}

class VocalithModelTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const fs::path weights = dependencyCache() / "models/whisper-base";
        if (!fs::exists(weights / ".complete") || !testing::speechIsFetched())
            return;
        folder_ = new velnote::testing::TempDir;
        velnote::platform::ml::convertModel(weights, *folder_ / "openai_whisper-base");
        engine_ = Vocalith::create(
            VocalithConfig{.modelFolder = (*folder_ / "openai_whisper-base").string(), .verbose = false});
    }
    static void TearDownTestSuite() {
        engine_.reset();
        delete folder_;
        folder_ = nullptr;
    }

    void SetUp() override {
        if (!engine_)
            GTEST_SKIP() << "the base weights or the recordings are not in " << dependencyCache()
                         << ": run scripts/fetch-models (make test does)";
    }

    static DecodingOptions english() {
        DecodingOptions options;
        options.language = "en";
        options.chunkingStrategy = ChunkingStrategy::vad;
        return options;
    }

    static inline velnote::testing::TempDir* folder_ = nullptr;
    static inline std::shared_ptr<Vocalith> engine_;
};

TEST_F(VocalithModelTest, ReadPassagesGiveTheirWords) {
    EXPECT_EQ(engine_->modelVariant(), ModelVariant::base);
    const auto passages = testing::librivoxRecordings();
    ASSERT_GE(passages.size(), 3u);
    testing::WordErrors total;
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string heard = textOf(engine_->transcribe(passages[i].path.string(), english()));
        const auto errors = wordErrors(passages[i].transcript, heard);
        total += errors;
        std::printf("%s\n  said:  %s\n  heard: %s (WER %.2f)\n", passages[i].path.filename().c_str(),
                    passages[i].transcript.c_str(), heard.c_str(), errors.rate());
        EXPECT_LE(errors.rate(), 0.2) << heard;
    }
    EXPECT_LE(total.rate(), 0.1);
}

TEST_F(VocalithModelTest, TelephonePromptsJoinedIntoOneLongRecordingGiveTheirWords) {
    // Prompts of a sentence or more, joined with a short pause: longer than one window, so the
    // engine cuts it at pauses and transcribes the pieces side by side.
    std::vector<float> audio;
    std::string said;
    for (const Recording& prompt : testing::promptRecordings()) {
        if (testing::comparableWords(prompt.transcript).size() < 6)
            continue;
        const auto samples = AudioProcessor::loadAudioAsFloatArray(prompt.path.string());
        audio.insert(audio.end(), samples.begin(), samples.end());
        audio.insert(audio.end(), 8000, 0.0f);
        said += prompt.transcript + " ";
        if (audio.size() > 50u * 16000u)
            break;
    }
    const auto results = engine_->transcribe(audio, english());
    ASSERT_GE(results.size(), 2u);
    for (std::size_t i = 1; i < results.size(); ++i)
        EXPECT_GT(*results[i]->seekTime(), *results[i - 1]->seekTime());
    const std::string heard = textOf(results);
    const auto errors = wordErrors(said, heard);
    std::printf("said:  %s\nheard: %s\nWER %.3f over %zu words in %zu pieces\n", said.c_str(), heard.c_str(),
                errors.rate(), errors.words, results.size());
    // The first cut says one sentence four times: every pass over it fails the compression check,
    // so its words come from a random draw at a raised temperature and vary from run to run.
    EXPECT_LE(errors.rate(), 0.2);
}

} // namespace
} // namespace vocalith
