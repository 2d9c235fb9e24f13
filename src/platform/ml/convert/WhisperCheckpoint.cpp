#include "platform/ml/convert/WhisperCheckpoint.h"

#include "platform/json/Json.h"
#include "platform/ml/convert/ConversionError.h"
#include "platform/ml/convert/MappedFile.h"
#include "platform/ml/convert/PackagedModelFile.h"
#include "platform/ml/convert/SafetensorsFile.h"

#include <array>
#include <optional>

namespace velnote::platform::ml {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxJsonFileBytes = 64u << 20;
constexpr std::size_t kMaxJsonDepth = 64;
// Far beyond any published model, small enough that no loop over layers or heads runs away.
constexpr int kMaxLayers = 1024;
constexpr int kMaxSize = 1 << 20;

constexpr std::array kTokenizerFileNames{
    "tokenizer.json",    "tokenizer_config.json",  "vocab.json", "merges.txt", "normalizer.json",
    "added_tokens.json", "special_tokens_map.json"};

[[noreturn]] void fail(ConversionError::Code code, const fs::path& path, const std::string& problem) {
    throw ConversionError(code, path.string() + ": " + problem);
}

Json readJsonFile(const fs::path& path) {
    if (!fs::is_regular_file(path))
        fail(ConversionError::Code::unreadableSource, path, "missing");
    const MappedFile file(path);
    const auto bytes = file.bytes();
    if (bytes.size() > kMaxJsonFileBytes)
        fail(ConversionError::Code::malformedFile, path, "too large for a JSON file");
    try {
        return parseJson(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                         kMaxJsonDepth);
    } catch (const JsonDecodeError& e) {
        fail(ConversionError::Code::malformedFile, path, e.what());
    }
}

template <class T> T decodeFrom(const fs::path& path, const std::function<T()>& read) {
    try {
        return read();
    } catch (const JsonDecodeError& e) {
        fail(ConversionError::Code::malformedFile, path, e.what());
    }
}

int sizeIn(const fs::path& path, const Json& config, const char* key, int limit) {
    const int value = decodeFrom<int>(path, [&] { return required<int>(config, key); });
    if (value < 1 || value > limit)
        fail(ConversionError::Code::malformedFile, path,
             std::string(key) + " " + std::to_string(value) + " is out of range");
    return value;
}

const SourceTensor& tensorIn(const std::map<std::string, SourceTensor>& tensors, const fs::path& path,
                             const std::string& name, std::size_t rank) {
    const auto found = tensors.find(name);
    if (found == tensors.end())
        fail(ConversionError::Code::incompleteWeights, path, "has no tensor " + name);
    if (found->second.shape.size() != rank)
        fail(ConversionError::Code::incompleteWeights, path,
             "tensor " + name + " has shape " + shapeText(found->second.shape));
    return found->second;
}

int dimension(const fs::path& path, const SourceTensor& tensor, std::size_t index, const std::string& what) {
    const auto value = tensor.shape.at(index);
    if (value < 1 || value > kMaxSize)
        fail(ConversionError::Code::incompleteWeights, path,
             what + " " + std::to_string(value) + " is out of range");
    return static_cast<int>(value);
}

std::vector<std::pair<int, int>> alignmentHeadsIn(const fs::path& path, const Json& config) {
    const auto pairs = decodeFrom<std::optional<std::vector<std::vector<int>>>>(
        path, [&] { return optional<std::vector<std::vector<int>>>(config, "alignment_heads"); });
    std::vector<std::pair<int, int>> heads;
    for (const auto& pair : pairs.value_or(std::vector<std::vector<int>>{})) {
        if (pair.size() != 2)
            fail(ConversionError::Code::malformedFile, path, "an alignment head is not a (layer, head) pair");
        heads.emplace_back(pair[0], pair[1]);
    }
    return heads;
}

// ---- The published layout ----

std::map<std::string, SourceTensor> publishedNames(std::map<std::string, SourceTensor> tensors) {
    // Checkpoints saved from the bare model (not the one with the output head) lack the prefix.
    std::map<std::string, SourceTensor> named;
    for (auto& [name, tensor] : tensors) {
        const bool bare = name.starts_with("encoder.") || name.starts_with("decoder.");
        named.insert_or_assign(bare ? "model." + name : name, std::move(tensor));
    }
    return named;
}

// ---- The packaged layout ----

const std::map<std::string, std::string>& packagedLeafNames() {
    static const std::map<std::string, std::string> names{
        {"self_attention/layer_norm/gamma", "self_attn_layer_norm.weight"},
        {"self_attention/layer_norm/beta", "self_attn_layer_norm.bias"},
        {"self_attention/linear_1/weight", "self_attn.out_proj.weight"},
        {"self_attention/linear_1/bias", "self_attn.out_proj.bias"},
        {"attention/layer_norm/gamma", "encoder_attn_layer_norm.weight"},
        {"attention/layer_norm/beta", "encoder_attn_layer_norm.bias"},
        {"attention/linear_0/weight", "encoder_attn.q_proj.weight"},
        {"attention/linear_0/bias", "encoder_attn.q_proj.bias"},
        {"attention/linear_2/weight", "encoder_attn.out_proj.weight"},
        {"attention/linear_2/bias", "encoder_attn.out_proj.bias"},
        {"ffn/layer_norm/gamma", "final_layer_norm.weight"},
        {"ffn/layer_norm/beta", "final_layer_norm.bias"},
        {"ffn/linear_0/weight", "fc1.weight"},
        {"ffn/linear_0/bias", "fc1.bias"},
        {"ffn/linear_1/weight", "fc2.weight"},
        {"ffn/linear_1/bias", "fc2.bias"},
    };
    return names;
}

int countLayers(const std::map<std::string, SourceTensor>& variables, const std::string& side) {
    int layers = 0;
    while (layers <= kMaxLayers &&
           variables.contains(side + "/layer_" + std::to_string(layers) + "/ffn/linear_0/weight"))
        ++layers;
    return layers;
}

int headCount(const fs::path& path, const std::map<std::string, SourceTensor>& variables,
              const std::string& side) {
    const auto& tensor = tensorIn(variables, path, side + "/num_heads", 0);
    const auto heads = tensor.integerScalar();
    if (!heads || *heads < 1 || *heads > kMaxSize)
        fail(ConversionError::Code::malformedFile, path, side + "/num_heads is not a positive integer");
    return static_cast<int>(*heads);
}

// Settings the packaged file may carry; the network here is the plain pre-norm one with GELU.
void checkPackagedSettings(const fs::path& path, const std::map<std::string, SourceTensor>& variables) {
    static const std::array<std::pair<const char*, std::int64_t>, 5> expected{
        {{"decoder/pre_norm", 1},
         {"decoder/scale_embeddings", 0},
         {"decoder/alibi", 0},
         {"decoder/start_from_zero_embedding", 0},
         {"decoder/activation", 3}}};
    for (const auto& [name, value] : expected) {
        const auto found = variables.find(name);
        if (found != variables.end() && found->second.integerScalar() != value)
            fail(ConversionError::Code::unsupported, path,
                 std::string("setting ") + name + " is not the one supported");
    }
}

void splitRows(std::map<std::string, SourceTensor>& out, const fs::path& path, const SourceTensor& fused,
               const std::vector<std::string>& names, int width) {
    if (fused.shape.empty() || fused.shape[0] != static_cast<std::int64_t>(names.size()) * width)
        fail(ConversionError::Code::incompleteWeights, path,
             "a fused projection has shape " + shapeText(fused.shape));
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!names[i].empty())
            out[names[i]] = fused.rows(static_cast<std::int64_t>(i) * width, width);
    }
}

void mapPackagedLayer(std::map<std::string, SourceTensor>& out, const fs::path& path,
                      const std::map<std::string, SourceTensor>& variables, const std::string& side,
                      int layer, int width) {
    const std::string from = side + "/layer_" + std::to_string(layer) + "/";
    const std::string to = "model." + side + ".layers." + std::to_string(layer) + ".";
    for (const auto& [leaf, published] : packagedLeafNames()) {
        const auto found = variables.find(from + leaf);
        if (found != variables.end())
            out[to + published] = found->second;
    }
    for (const char* kind : {"weight", "bias"}) {
        const std::string suffix = kind;
        const std::size_t rank = suffix == "weight" ? 2 : 1;
        // Self-attention: query, key and value in one projection.
        splitRows(out, path, tensorIn(variables, path, from + "self_attention/linear_0/" + suffix, rank),
                  {to + "self_attn.q_proj." + suffix,
                   suffix == "weight" ? to + "self_attn.k_proj.weight" : "",
                   to + "self_attn.v_proj." + suffix},
                  width);
        // Cross-attention (decoder only): key and value of the audio in one projection.
        if (side == "decoder")
            splitRows(out, path, tensorIn(variables, path, from + "attention/linear_1/" + suffix, rank),
                      {suffix == "weight" ? to + "encoder_attn.k_proj.weight" : "",
                       to + "encoder_attn.v_proj." + suffix},
                      width);
    }
}

std::map<std::string, SourceTensor> mapPackaged(const fs::path& path,
                                                const std::map<std::string, SourceTensor>& variables,
                                                const WhisperHyperParameters& p) {
    std::map<std::string, SourceTensor> out;
    const std::array<std::pair<const char*, const char*>, 10> direct{{
        {"encoder/conv1/weight", "model.encoder.conv1.weight"},
        {"encoder/conv1/bias", "model.encoder.conv1.bias"},
        {"encoder/conv2/weight", "model.encoder.conv2.weight"},
        {"encoder/conv2/bias", "model.encoder.conv2.bias"},
        {"encoder/position_encodings/encodings", "model.encoder.embed_positions.weight"},
        {"encoder/layer_norm/gamma", "model.encoder.layer_norm.weight"},
        {"encoder/layer_norm/beta", "model.encoder.layer_norm.bias"},
        {"decoder/embeddings/weight", "model.decoder.embed_tokens.weight"},
        {"decoder/position_encodings/encodings", "model.decoder.embed_positions.weight"},
        {"decoder/layer_norm/gamma", "model.decoder.layer_norm.weight"},
    }};
    for (const auto& [from, to] : direct) {
        const auto found = variables.find(from);
        if (found != variables.end())
            out[to] = found->second;
    }
    if (const auto beta = variables.find("decoder/layer_norm/beta"); beta != variables.end())
        out["model.decoder.layer_norm.bias"] = beta->second;
    for (int layer = 0; layer < p.audioLayerCount; ++layer)
        mapPackagedLayer(out, path, variables, "encoder", layer, p.width);
    for (int layer = 0; layer < p.textLayerCount; ++layer)
        mapPackagedLayer(out, path, variables, "decoder", layer, p.width);
    return out;
}

std::optional<int> tokenId(const Json& tokenizer, const std::string& text) {
    if (const auto added = tokenizer.find("added_tokens"); added != tokenizer.end() && added->is_array()) {
        for (const auto& token : *added) {
            if (token.is_object() && token.value("content", Json()) == text &&
                token.value("id", Json()).is_number_integer())
                return token["id"].get<int>();
        }
    }
    const auto model = tokenizer.find("model");
    if (model != tokenizer.end() && model->is_object()) {
        const auto vocab = model->find("vocab");
        if (vocab != model->end() && vocab->is_object()) {
            const auto id = vocab->find(text);
            if (id != vocab->end() && id->is_number_integer())
                return id->get<int>();
        }
    }
    return std::nullopt;
}

WhisperPromptTokens promptTokensIn(const fs::path& path) {
    const Json tokenizer = readJsonFile(path);
    if (!tokenizer.is_object() || !tokenizer.contains("model"))
        fail(ConversionError::Code::malformedFile, path, "is not a tokenizer description");
    const auto id = [&](const char* text) {
        const auto found = tokenId(tokenizer, text);
        if (!found || *found < 0)
            fail(ConversionError::Code::malformedFile, path, std::string("has no token ") + text);
        return *found;
    };
    return {.startOfTranscript = id("<|startoftranscript|>"),
            .transcribe = id("<|transcribe|>"),
            .translate = id("<|translate|>")};
}

} // namespace

WhisperCheckpoint WhisperCheckpoint::load(const fs::path& folder) {
    if (!fs::is_directory(folder))
        fail(ConversionError::Code::unreadableSource, folder, "is not a folder");
    WhisperCheckpoint checkpoint;
    const fs::path configPath = folder / "config.json";
    const Json config = readJsonFile(configPath);
    if (!config.is_object())
        fail(ConversionError::Code::malformedFile, configPath, "is not a JSON object");
    auto& p = checkpoint.parameters_;

    if (fs::exists(folder / "model.safetensors")) {
        auto file = std::make_shared<const SafetensorsFile>(folder / "model.safetensors");
        checkpoint.tensors_ = publishedNames(file->tensors());
        checkpoint.source_ = file;
        p.width = sizeIn(configPath, config, "d_model", kMaxSize);
        p.melCount = sizeIn(configPath, config, "num_mel_bins", kMaxSize);
        p.audioContextLength = sizeIn(configPath, config, "max_source_positions", kMaxSize);
        p.audioLayerCount = sizeIn(configPath, config, "encoder_layers", kMaxLayers);
        p.audioHeadCount = sizeIn(configPath, config, "encoder_attention_heads", kMaxSize);
        p.textContextLength = sizeIn(configPath, config, "max_target_positions", kMaxSize);
        p.textLayerCount = sizeIn(configPath, config, "decoder_layers", kMaxLayers);
        p.textHeadCount = sizeIn(configPath, config, "decoder_attention_heads", kMaxSize);
        p.vocabularySize = sizeIn(configPath, config, "vocab_size", kMaxSize);
        const fs::path generation = folder / "generation_config.json";
        if (fs::exists(generation))
            checkpoint.alignmentHeads_ = alignmentHeadsIn(generation, readJsonFile(generation));
    } else if (fs::exists(folder / "model.bin")) {
        const fs::path path = folder / "model.bin";
        auto file = std::make_shared<const PackagedModelFile>(path);
        const auto& variables = file->variables();
        checkPackagedSettings(path, variables);
        const auto& conv1 = tensorIn(variables, path, "encoder/conv1/weight", 3);
        p.width = dimension(path, conv1, 0, "width");
        p.melCount = dimension(path, conv1, 1, "mel count");
        p.audioContextLength = dimension(
            path, tensorIn(variables, path, "encoder/position_encodings/encodings", 2), 0, "audio context");
        p.textContextLength = dimension(
            path, tensorIn(variables, path, "decoder/position_encodings/encodings", 2), 0, "text context");
        p.vocabularySize =
            dimension(path, tensorIn(variables, path, "decoder/embeddings/weight", 2), 0, "vocabulary");
        p.audioLayerCount = countLayers(variables, "encoder");
        p.textLayerCount = countLayers(variables, "decoder");
        p.audioHeadCount = headCount(path, variables, "encoder");
        p.textHeadCount = headCount(path, variables, "decoder");
        if (p.audioLayerCount == 0 || p.textLayerCount == 0 || p.audioLayerCount > kMaxLayers ||
            p.textLayerCount > kMaxLayers)
            fail(ConversionError::Code::incompleteWeights, path, "has no usable encoder or decoder layers");
        checkpoint.tensors_ = mapPackaged(path, variables, p);
        checkpoint.source_ = file;
        checkpoint.alignmentHeads_ = alignmentHeadsIn(configPath, config);
    } else {
        fail(ConversionError::Code::unreadableSource, folder,
             "holds neither model.safetensors nor model.bin");
    }

    for (const char* name : kTokenizerFileNames) {
        if (fs::is_regular_file(folder / name))
            checkpoint.tokenizerFiles_[name] = folder / name;
    }
    if (!checkpoint.tokenizerFiles_.contains("tokenizer.json"))
        fail(ConversionError::Code::unreadableSource, folder / "tokenizer.json", "missing");
    checkpoint.promptTokens_ = promptTokensIn(folder / "tokenizer.json");
    return checkpoint;
}

} // namespace velnote::platform::ml
