// The real base model, converted from the pinned checkpoint that scripts/fetch-models unpacks,
// transcribing two recorded sentences joined by a second of silence, with word timings.

#include "engine/speech/audio/AudioProcessor.h"
#include "engine/speech/decoding/TextDecoder.h"
#include "engine/speech/tokenizer/TokenizerLoader.h"
#include "engine/speech/tokenizer/TokenizerUtilities.h"
#include "engine/speech/transcription/TranscribeTask.h"
#include "support/ConvertedBaseModel.h"

#include <gtest/gtest.h>

namespace vocalith {
namespace {

namespace fs = std::filesystem;
namespace ml = velnote::platform::ml;

using testing::dependencyCache;

fs::path recording(const char* number) {
    return dependencyCache() /
           ("speech/librivox/sense_and_sensibility_01_austen_64kb-" + std::string(number) + ".wav");
}

class TranscribeTaskModelTest : public testing::ConvertedBaseModelTest {
  protected:
    static std::unique_ptr<TranscribeTask> makeTask() {
        const fs::path variant = ConvertedBaseModelTest::variant();
        const auto units = basalith::ComputeUnits::cpuOnly;
        auto extractor = std::make_shared<FeatureExtractor>();
        extractor->loadModel(variant / ml::kMelSpectrogramFolder, units, false);
        auto encoder = std::make_shared<AudioEncoder>();
        encoder->loadModel(variant / ml::kAudioEncoderFolder, units, false);
        auto decoder = std::make_shared<TextDecoder>();
        decoder->loadModel(variant / ml::kTextDecoderFolder, units, false);
        auto prefill = std::make_shared<TextDecoderContextPrefill>();
        prefill->loadModel(variant / ml::kTextDecoderContextPrefillFolder, units, false);
        decoder->setPrefillData(prefill);
        decoder->setTokenizer(
            loadTokenizer(ModelVariant::base, std::nullopt, {variant}, false, "http://127.0.0.1:1"));
        decoder->setIsModelMultilingual(true);
        return std::make_unique<TranscribeTask>(TranscriptionTimings{}, nullptr, nullptr, encoder, extractor,
                                                std::make_shared<SegmentSeeker>(), decoder,
                                                decoder->tokenizer());
    }
};

TEST_F(TranscribeTaskModelTest, TwoSentencesWithTheirWordsInTime) {
    std::vector<float> audio = AudioProcessor::loadAudioAsFloatArray(recording("0870").string());
    const double firstEnd = static_cast<double>(audio.size()) / 16000;
    audio.resize(audio.size() + 16000, 0.0f);
    const double secondStart = static_cast<double>(audio.size()) / 16000;
    const auto second = AudioProcessor::loadAudioAsFloatArray(recording("0880").string());
    audio.insert(audio.end(), second.begin(), second.end());
    const double length = static_cast<double>(audio.size()) / 16000;

    DecodingOptions options;
    options.detectLanguage = true;
    options.wordTimestamps = true;
    const auto result = makeTask()->run(audio, options);

    const std::string heard = normalized(result->text());
    EXPECT_NE(
        heard.find("john dashwood had then leisure to consider how much there might be prudently in his "
                   "power to do for them"),
        std::string::npos)
        << heard;
    EXPECT_NE(heard.find("he was not an ill disposed young man"), std::string::npos) << heard;
    EXPECT_EQ(result->language(), "en");

    // Words follow one another inside the audio, and the silence between the sentences separates
    // their words.
    const auto words = result->allWords();
    ASSERT_GT(words.size(), 20u);
    float previousStart = 0;
    for (const auto& word : words) {
        EXPECT_LE(previousStart, word.start) << word.word;
        EXPECT_LE(word.start, word.end) << word.word;
        EXPECT_LE(word.end, length + 0.5) << word.word;
        previousStart = word.start;
    }
    const auto firstOf = [&](const std::string& text) {
        for (const auto& word : words)
            if (normalized(word.word) == text)
                return word;
        ADD_FAILURE() << "no word " << text;
        return WordTiming{};
    };
    EXPECT_LT(firstOf("them").end, firstEnd + 0.5);
    EXPECT_GT(firstOf("young").start, secondStart - 0.5);
    std::printf("heard: %s\n", heard.c_str());
    for (const auto& word : words)
        std::printf("[%.2f -> %.2f] %s\n", word.start, word.end, word.word.c_str());
}

} // namespace
} // namespace vocalith
