#include "platform/ml/convert/ModelConverter.h"

#include "platform/fs/Files.h"
#include "platform/json/Json.h"
#include "platform/ml/ModelWriter.h"
#include "platform/ml/convert/ConversionError.h"

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <system_error>

namespace velnote::platform::ml {

namespace fs = std::filesystem;

namespace {

constexpr int kKvCacheLength = 224;

// What the tokenizer loader needs of a configuration when the checkpoint brings none.
Json defaultTokenizerConfig() {
    return Json{{"tokenizer_class", "WhisperTokenizer"},
                {"bos_token", "<|endoftext|>"},
                {"eos_token", "<|endoftext|>"},
                {"unk_token", "<|endoftext|>"},
                {"pad_token", "<|endoftext|>"},
                {"add_prefix_space", false},
                {"errors", "replace"},
                {"model_max_length", 1024}};
}

std::vector<WeightTensor> weightTensors(const WhisperCheckpoint& checkpoint) {
    std::vector<WeightTensor> tensors;
    for (const auto& [name, tensor] : checkpoint.tensors())
        tensors.push_back(
            {.name = name, .shape = tensor.shape, .values = [&tensor] { return tensor.toFloat(); }});
    return tensors;
}

// A fresh hidden folder beside `destination`, so the final rename stays on one file system.
fs::path stagingFolder(const fs::path& destination) {
    std::string pattern =
        (destination.parent_path() / ("." + destination.filename().string() + ".partial-XXXXXX"));
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(),
                                "cannot create a folder beside " + destination.string());
    return pattern;
}

void checkDestination(const fs::path& destination) {
    if (destination.filename().empty())
        throw ConversionError(ConversionError::Code::writeFailed, "the destination must name a folder");
    std::error_code error;
    if (fs::exists(destination, error) &&
        !(fs::is_directory(destination) && fs::is_empty(destination, error)))
        throw ConversionError(ConversionError::Code::writeFailed,
                              destination.string() + " already exists; remove it or name another folder");
}

void writeVariant(const WhisperCheckpoint& checkpoint, const VariantConfigs& configs,
                  const fs::path& folder) {
    writeModel(folder / kMelSpectrogramFolder, configs.melSpectrogram,
               {melFilterTensor(configs.melSpectrogram)});
    const auto weights = weightTensors(checkpoint);
    writeModel(folder / kAudioEncoderFolder, configs.audioEncoder, weights);
    writeModel(folder / kTextDecoderFolder, configs.textDecoder, weights);
    writeModel(folder / kTextDecoderContextPrefillFolder, configs.contextPrefill, weights);
    for (const auto& [name, path] : checkpoint.tokenizerFiles())
        fs::copy_file(path, folder / name);
    if (!checkpoint.tokenizerFiles().contains("tokenizer_config.json"))
        writeFileAtomically(folder / "tokenizer_config.json", toPrettyJson(defaultTokenizerConfig()));
}

} // namespace

VariantConfigs variantConfigs(const WhisperCheckpoint& checkpoint) {
    const auto& p = checkpoint.parameters();
    VariantConfigs c;
    auto& mel = c.melSpectrogram;
    mel.windowSamples = std::int64_t{2} * p.audioContextLength * mel.hopLength;
    mel.melCount = p.melCount;
    auto& encoder = c.audioEncoder;
    encoder.melCount = p.melCount;
    encoder.contextLength = p.audioContextLength;
    encoder.width = p.width;
    encoder.headCount = p.audioHeadCount;
    encoder.layerCount = p.audioLayerCount;
    auto& decoder = c.textDecoder;
    decoder.vocabularySize = p.vocabularySize;
    decoder.contextLength = p.textContextLength;
    decoder.width = p.width;
    decoder.headCount = p.textHeadCount;
    decoder.layerCount = p.textLayerCount;
    decoder.audioContextLength = p.audioContextLength;
    decoder.kvCacheLength = std::min(kKvCacheLength, p.textContextLength);
    for (const auto& [layer, head] : checkpoint.alignmentHeads())
        decoder.alignmentHeads.push_back({.layer = layer, .head = head});
    auto& prefill = c.contextPrefill;
    prefill.decoder = decoder;
    prefill.startOfTranscriptToken = checkpoint.promptTokens().startOfTranscript;
    prefill.transcribeToken = checkpoint.promptTokens().transcribe;
    prefill.translateToken = checkpoint.promptTokens().translate;
    prefill.multilingual = p.vocabularySize != kEnglishOnlyVocabularySize;
    try {
        validate(c.melSpectrogram);
        validate(c.audioEncoder);
        validate(c.textDecoder);
        validate(c.contextPrefill);
    } catch (const std::invalid_argument& e) {
        throw ConversionError(ConversionError::Code::malformedFile,
                              std::string("the checkpoint's sizes make no usable model: ") + e.what());
    }
    return c;
}

void convertCheckpoint(const WhisperCheckpoint& checkpoint, const fs::path& destination) {
    const VariantConfigs configs = variantConfigs(checkpoint);
    checkDestination(destination);
    fs::path staging;
    try {
        if (!destination.parent_path().empty())
            fs::create_directories(destination.parent_path());
        staging = stagingFolder(destination);
        writeVariant(checkpoint, configs, staging);
        fs::rename(staging, destination);
    } catch (...) {
        std::error_code ignored;
        if (!staging.empty())
            fs::remove_all(staging, ignored);
        try {
            throw;
        } catch (const std::invalid_argument& e) {
            throw ConversionError(ConversionError::Code::incompleteWeights,
                                  std::string("the checkpoint cannot be converted: ") + e.what());
        } catch (const std::system_error& e) {
            throw ConversionError(ConversionError::Code::writeFailed, e.what());
        }
    }
}

void convertModel(const fs::path& source, const fs::path& destination) {
    convertCheckpoint(WhisperCheckpoint::load(source), destination);
}

int runConvertModelCommand(std::span<const char* const> arguments, std::ostream& out, std::ostream& err) {
    if (arguments.size() != 3) {
        err << "usage: velnote-convert-model SOURCE DEST\n"
               "  SOURCE  a checkpoint folder: model.safetensors with config.json and tokenizer.json,\n"
               "          or the model.bin, config.json and tokenizer.json that scripts/fetch-models "
               "unpacks\n"
               "  DEST    the variant folder to create, e.g. .../openai_whisper-base\n";
        return 2;
    }
    try {
        const auto checkpoint = WhisperCheckpoint::load(arguments[1]);
        convertCheckpoint(checkpoint, arguments[2]);
        const auto& p = checkpoint.parameters();
        out << "Wrote " << arguments[2] << ": width " << p.width << ", " << p.audioLayerCount
            << " encoder and " << p.textLayerCount << " decoder layers, vocabulary " << p.vocabularySize
            << ", " << p.melCount << " mel bands\n";
        return 0;
    } catch (const ConversionError& e) {
        err << "velnote-convert-model: " << e.what() << "\n";
        return 1;
    }
}

} // namespace velnote::platform::ml
