#include "support/CraftedVariant.h"

#include "platform/fs/Files.h"
#include "platform/ml/ModelGenerator.h"
#include "support/TestTokenizer.h"

namespace vocalith::testing {

namespace fs = std::filesystem;
namespace ml = velnote::platform::ml;
using V = TestVocabulary;

namespace {

// Wide enough for the scripted choices to be sure ones (logit about sqrt(width / 2)).
constexpr int kWidth = 256;

ml::TextDecoderConfig decoderConfig(int audioFrames) {
    return {.vocabularySize = static_cast<int>(V::size),
            .contextLength = 448,
            .width = kWidth,
            .headCount = 4,
            .layerCount = 2,
            .audioContextLength = audioFrames,
            .kvCacheLength = 224,
            .layerNormEps = 1e-5f,
            .alignmentHeads = {{1, 2}}};
}

} // namespace

void writeScriptedDecoder(const fs::path& folder, double closingSeconds, int audioFrames) {
    const auto tokenizer = makeTestTokenizer();
    const auto id = [&](const char* text) { return static_cast<int>(tokenizer->encode(text).front()); };
    // Position 0 follows the start of transcript alone: what language detection sees.
    const std::vector<int> script = {static_cast<int>(V::japanese),
                                     static_cast<int>(V::transcribe),
                                     static_cast<int>(V::timeBegin),
                                     id("Hello"),
                                     id(" world"),
                                     '.',
                                     static_cast<int>(V::timestamp(closingSeconds)),
                                     static_cast<int>(V::endOfText)};
    const auto decoder = decoderConfig(audioFrames);
    const auto weights = ml::scriptedDecoderWeights(decoder, script);
    ml::writeModel(folder / "TextDecoder.mlmodelc", decoder, weights);
    ml::writeModel(
        folder / "TextDecoderContextPrefill.mlmodelc",
        ml::TextDecoderContextPrefillConfig{.decoder = decoder,
                                            .startOfTranscriptToken = static_cast<int>(V::startOfTranscript),
                                            .transcribeToken = static_cast<int>(V::transcribe),
                                            .translateToken = static_cast<int>(V::translate),
                                            .multilingual = true},
        weights);
}

void CraftedVariant::write(const fs::path& folder) const {
    writeScriptedDecoder(folder, closingSeconds);
    ml::writeRandomModel(folder / "MelSpectrogram.mlmodelc", ml::MelSpectrogramConfig{}, 1);
    ml::writeRandomModel(folder / "AudioEncoder.mlmodelc",
                         ml::AudioEncoderConfig{.width = kWidth, .headCount = 4, .layerCount = 1},
                         encoderSeed);
    writeTestTokenizer(folder);
}

std::vector<std::pair<std::string, std::string>> filesBelow(const fs::path& folder) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file())
            files.emplace_back(fs::relative(entry.path(), folder).generic_string(),
                               velnote::platform::readFile(entry.path()));
    }
    return files;
}

} // namespace vocalith::testing
