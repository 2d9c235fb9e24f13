#pragma once

#include "platform/ml/convert/SourceTensor.h"

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velnote::platform::ml {

// The sizes of an encoder-decoder speech model, as read from a checkpoint and checked against
// its tensors.
struct WhisperHyperParameters {
    int melCount = 0;           // input mel bands (80, or 128 for the largest models)
    int audioContextLength = 0; // encoder frames out (1500 for 30 s)
    int audioLayerCount = 0;
    int audioHeadCount = 0;
    int textContextLength = 0; // decoder positions (448)
    int textLayerCount = 0;
    int textHeadCount = 0;
    int vocabularySize = 0; // 51864 for the English-only models, 51865 (51866) multilingual
    int width = 0;          // d, shared by encoder and decoder
};

// The token ids the decoder's context prefill needs, looked up in the tokenizer by their text.
struct WhisperPromptTokens {
    int startOfTranscript = 0;
    int transcribe = 0;
    int translate = 0;
};

// A checkpoint in either layout this converter reads, seen through the published tensor names
// ("model.encoder.layers.0.self_attn.q_proj.weight", ...):
//
// - the published layout: "model.safetensors", "config.json" (d_model, encoder_layers, ...),
//   optionally "generation_config.json" (alignment_heads) and the tokenizer files;
// - the pinned weight packages: "model.bin" (PackagedModelFile), "config.json"
//   (alignment_heads) and "tokenizer.json"; fused projections are split into the published
//   query, key and value tensors. A key bias is dropped: it shifts every attention score of a
//   query by the same amount, which softmax ignores.
//
// Keeps the source file mapped for as long as it lives; the tensors point into it.
class WhisperCheckpoint {
  public:
    // Throws ConversionError naming the file and the fault.
    static WhisperCheckpoint load(const std::filesystem::path& folder);

    const WhisperHyperParameters& parameters() const { return parameters_; }
    // By published name; the output projection is tied to the token embedding and not listed.
    const std::map<std::string, SourceTensor>& tensors() const { return tensors_; }
    // (decoder layer, head) pairs whose cross-attention times words; may be empty.
    const std::vector<std::pair<int, int>>& alignmentHeads() const { return alignmentHeads_; }
    const WhisperPromptTokens& promptTokens() const { return promptTokens_; }
    // Tokenizer files to carry into the model folder, by file name; "tokenizer.json" is always
    // among them.
    const std::map<std::string, std::filesystem::path>& tokenizerFiles() const { return tokenizerFiles_; }

  private:
    WhisperHyperParameters parameters_;
    std::map<std::string, SourceTensor> tensors_;
    std::vector<std::pair<int, int>> alignmentHeads_;
    WhisperPromptTokens promptTokens_;
    std::map<std::string, std::filesystem::path> tokenizerFiles_;
    std::shared_ptr<const void> source_; // the mapped file the tensors point into
};

} // namespace velnote::platform::ml
