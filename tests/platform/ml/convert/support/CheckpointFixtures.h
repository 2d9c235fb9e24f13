#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace velnote::testing {

// One tensor of a checkpoint the tests write: values in row-major order of `shape`, stored as
// `dtype` ("F32", "F16" or "BF16").
struct FixtureTensor {
    std::string dtype = "F32";
    std::vector<std::int64_t> shape;
    std::vector<float> values;
};

using FixtureTensors = std::map<std::string, FixtureTensor>;

// The bytes of a safetensors file holding `tensors` in name order.
std::string safetensorsBytes(const FixtureTensors& tensors);
// A safetensors file from a header text and data bytes, as given (for malformed files).
std::string safetensorsBytes(const std::string& header, const std::string& data);

// Scaled-down sizes of an encoder-decoder speech model.
struct TinyWhisper {
    int width = 8;
    int heads = 2;
    int audioLayers = 2;
    int textLayers = 2;
    int melCount = 80;
    int audioContext = 6;
    int textContext = 10;
    int vocabulary = 40;
};

// Seeded random weights under the published tensor names (with "model." prefix), in float32.
FixtureTensors publishedWeights(const TinyWhisper& sizes, std::uint32_t seed);

// A folder in the published layout: model.safetensors (dtype for every tensor), config.json,
// generation_config.json with two alignment heads, tokenizer.json and tokenizer_config.json.
void writePublishedCheckpoint(const std::filesystem::path& folder, const TinyWhisper& sizes,
                              const FixtureTensors& weights, const std::string& dtype = "F32");

// The same weights in the packaged layout: model.bin with fused projections in float16 (the key
// bias row set to `keyBias`, which the converter must drop), config.json and tokenizer.json.
void writePackagedCheckpoint(const std::filesystem::path& folder, const TinyWhisper& sizes,
                             const FixtureTensors& weights, float keyBias = 0.0f);

// The packaged file's bytes: variables (name, rank/dims, type code, raw bytes) and aliases.
struct PackagedVariable {
    std::string name;
    std::vector<std::uint32_t> dims;
    std::uint8_t typeCode = 4;
    std::string bytes;
};
std::string packagedModelBytes(const std::vector<PackagedVariable>& variables,
                               const std::vector<std::pair<std::string, std::string>>& aliases,
                               std::uint32_t version = 6);

// A tokenizer.json of `vocabulary` ids: plain tokens, then the special ones from id vocabulary - 6.
std::string tinyTokenizerJson(int vocabulary);

// Float16 bytes of values (rounded to nearest).
std::string float16Bytes(const std::vector<float>& values);

void writeText(const std::filesystem::path& path, const std::string& text);
std::string readBytes(const std::filesystem::path& path);

} // namespace velnote::testing
