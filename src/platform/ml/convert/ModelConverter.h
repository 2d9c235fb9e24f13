#pragma once

#include "platform/ml/ModelConfig.h"
#include "platform/ml/convert/WhisperCheckpoint.h"

#include <filesystem>
#include <iosfwd>
#include <span>

namespace velnote::platform::ml {

// The model folders of a variant folder, as the speech engine looks for them.
inline constexpr const char* kMelSpectrogramFolder = "MelSpectrogram.mlmodelc";
inline constexpr const char* kAudioEncoderFolder = "AudioEncoder.mlmodelc";
inline constexpr const char* kTextDecoderFolder = "TextDecoder.mlmodelc";
inline constexpr const char* kTextDecoderContextPrefillFolder = "TextDecoderContextPrefill.mlmodelc";

// The vocabulary size of the English-only models; every other size is multilingual.
inline constexpr int kEnglishOnlyVocabularySize = 51864;

// The four models of one checkpoint.
struct VariantConfigs {
    MelSpectrogramConfig melSpectrogram;
    AudioEncoderConfig audioEncoder;
    TextDecoderConfig textDecoder;
    TextDecoderContextPrefillConfig contextPrefill;
};

// The hyper-parameters of the four models for a checkpoint's sizes: 30 s windows of 16 kHz
// audio, 400-sample frames every 160 samples, a key/value cache of 224 positions (or the
// decoder's whole context when that is shorter). Throws ConversionError (malformedFile) when the
// sizes make no usable model (a width that the head count does not divide, ...).
VariantConfigs variantConfigs(const WhisperCheckpoint& checkpoint);

// Writes the variant folder `destination`: the four model folders with F16 weights (F32 biases,
// norms, position embeddings and mel filters), the hyper-parameters, the mel filter bank, and
// the tokenizer files ("tokenizer.json", "tokenizer_config.json" — written when the checkpoint
// has none — and any other tokenizer file it has). Everything is written into a hidden folder
// beside `destination` and renamed into place at the end, so `destination` appears whole or
// not at all. `destination` may be an empty folder; any other existing path is refused.
// Throws ConversionError: incompleteWeights (a tensor missing or misshapen), writeFailed.
void convertCheckpoint(const WhisperCheckpoint& checkpoint, const std::filesystem::path& destination);

// WhisperCheckpoint::load(source), then convertCheckpoint.
void convertModel(const std::filesystem::path& source, const std::filesystem::path& destination);

// The command `velnote-convert-model SOURCE DEST`: 0 on success (one line on `out`), 1 with the
// error on `err` when the conversion fails, 2 with the usage on `err` for wrong arguments.
int runConvertModelCommand(std::span<const char* const> arguments, std::ostream& out, std::ostream& err);

} // namespace velnote::platform::ml
