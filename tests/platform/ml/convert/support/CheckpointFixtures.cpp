#include "support/CheckpointFixtures.h"

#include <bit>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <stdexcept>

namespace velnote::testing {

namespace {

using Json = nlohmann::json;

template <class T> void append(std::string& out, T value) {
    char raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));
    out.append(raw, sizeof(T));
}

std::string encode(const FixtureTensor& tensor) {
    std::string bytes;
    for (const float value : tensor.values) {
        if (tensor.dtype == "F32") {
            append(bytes, value);
        } else if (tensor.dtype == "F16") {
            append(bytes, static_cast<_Float16>(value));
        } else if (tensor.dtype == "BF16") {
            append(bytes, static_cast<std::uint16_t>(std::bit_cast<std::uint32_t>(value) >> 16));
        } else {
            throw std::invalid_argument("fixture dtype " + tensor.dtype);
        }
    }
    return bytes;
}

std::int64_t count(const std::vector<std::int64_t>& shape) {
    std::int64_t n = 1;
    for (const auto d : shape)
        n *= d;
    return n;
}

std::string packagedString(const std::string& text) {
    std::string out;
    append(out, static_cast<std::uint16_t>(text.size() + 1));
    out += text;
    out += '\0';
    return out;
}

// Rows stacked: the packaged layout's fused projections.
std::vector<float> stack(std::initializer_list<const std::vector<float>*> parts) {
    std::vector<float> out;
    for (const auto* part : parts)
        out.insert(out.end(), part->begin(), part->end());
    return out;
}

} // namespace

std::string safetensorsBytes(const std::string& header, const std::string& data) {
    std::string out;
    append(out, static_cast<std::uint64_t>(header.size()));
    return out + header + data;
}

std::string safetensorsBytes(const FixtureTensors& tensors) {
    Json header = Json::object();
    std::string data;
    for (const auto& [name, tensor] : tensors) {
        const std::string bytes = encode(tensor);
        header[name] = {{"dtype", tensor.dtype},
                        {"shape", tensor.shape},
                        {"data_offsets", {data.size(), data.size() + bytes.size()}}};
        data += bytes;
    }
    header["__metadata__"] = {{"format", "pt"}};
    return safetensorsBytes(header.dump(), data);
}

FixtureTensors publishedWeights(const TinyWhisper& s, std::uint32_t seed) {
    std::mt19937 random(seed);
    FixtureTensors out;
    const auto add = [&](const std::string& name, std::vector<std::int64_t> shape, float scale,
                         float offset = 0) {
        std::uniform_real_distribution<float> uniform(-scale, scale);
        FixtureTensor tensor{.dtype = "F32", .shape = shape, .values = {}};
        tensor.values.resize(static_cast<std::size_t>(count(shape)));
        for (auto& v : tensor.values)
            v = offset + uniform(random);
        out[name] = std::move(tensor);
    };
    const std::int64_t d = s.width;
    const auto linear = [&](const std::string& name, std::int64_t outputs, std::int64_t inputs,
                            bool bias = true) {
        add(name + ".weight", {outputs, inputs}, 0.5f);
        if (bias)
            add(name + ".bias", {outputs}, 0.1f);
    };
    const auto norm = [&](const std::string& name) {
        add(name + ".weight", {d}, 0.1f, 1.0f);
        add(name + ".bias", {d}, 0.1f);
    };
    const auto attention = [&](const std::string& prefix) {
        linear(prefix + ".q_proj", d, d);
        linear(prefix + ".k_proj", d, d, false);
        linear(prefix + ".v_proj", d, d);
        linear(prefix + ".out_proj", d, d);
    };
    const auto block = [&](const std::string& prefix, bool cross) {
        attention(prefix + ".self_attn");
        norm(prefix + ".self_attn_layer_norm");
        if (cross) {
            attention(prefix + ".encoder_attn");
            norm(prefix + ".encoder_attn_layer_norm");
        }
        linear(prefix + ".fc1", 4 * d, d);
        linear(prefix + ".fc2", d, 4 * d);
        norm(prefix + ".final_layer_norm");
    };
    add("model.encoder.conv1.weight", {d, s.melCount, 3}, 0.2f);
    add("model.encoder.conv1.bias", {d}, 0.1f);
    add("model.encoder.conv2.weight", {d, d, 3}, 0.2f);
    add("model.encoder.conv2.bias", {d}, 0.1f);
    add("model.encoder.embed_positions.weight", {s.audioContext, d}, 0.5f);
    for (int layer = 0; layer < s.audioLayers; ++layer)
        block("model.encoder.layers." + std::to_string(layer), false);
    norm("model.encoder.layer_norm");
    add("model.decoder.embed_tokens.weight", {s.vocabulary, d}, 0.5f);
    add("model.decoder.embed_positions.weight", {s.textContext, d}, 0.5f);
    for (int layer = 0; layer < s.textLayers; ++layer)
        block("model.decoder.layers." + std::to_string(layer), true);
    norm("model.decoder.layer_norm");
    return out;
}

std::string tinyTokenizerJson(int vocabulary) {
    Json vocab = Json::object();
    const int plain = vocabulary - 6;
    for (int id = 0; id < plain; ++id)
        vocab["t" + std::to_string(id)] = id;
    Json added = Json::array();
    int id = plain;
    for (const char* text : {"<|endoftext|>", "<|startoftranscript|>", "<|en|>", "<|translate|>",
                             "<|transcribe|>", "<|notimestamps|>"}) {
        added.push_back({{"id", id++}, {"content", text}, {"special", true}});
    }
    return Json{{"version", "1.0"},
                {"added_tokens", added},
                {"model", {{"type", "BPE"}, {"vocab", vocab}, {"merges", Json::array()}}}}
        .dump();
}

void writeText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string float16Bytes(const std::vector<float>& values) {
    return encode({.dtype = "F16", .shape = {}, .values = values});
}

void writePublishedCheckpoint(const std::filesystem::path& folder, const TinyWhisper& s,
                              const FixtureTensors& weights, const std::string& dtype) {
    std::filesystem::create_directories(folder);
    FixtureTensors typed = weights;
    for (auto& [name, tensor] : typed)
        tensor.dtype = dtype;
    writeText(folder / "model.safetensors", safetensorsBytes(typed));
    writeText(folder / "config.json", Json{{"d_model", s.width},
                                           {"encoder_layers", s.audioLayers},
                                           {"encoder_attention_heads", s.heads},
                                           {"decoder_layers", s.textLayers},
                                           {"decoder_attention_heads", s.heads},
                                           {"num_mel_bins", s.melCount},
                                           {"vocab_size", s.vocabulary},
                                           {"max_source_positions", s.audioContext},
                                           {"max_target_positions", s.textContext},
                                           {"encoder_ffn_dim", 4 * s.width},
                                           {"decoder_ffn_dim", 4 * s.width}}
                                          .dump(2));
    writeText(folder / "generation_config.json", Json{{"alignment_heads", {{1, 0}, {1, 1}}}}.dump());
    writeText(folder / "tokenizer.json", tinyTokenizerJson(s.vocabulary));
    writeText(folder / "tokenizer_config.json", Json{{"tokenizer_class", "WhisperTokenizer"}}.dump());
}

std::string packagedModelBytes(const std::vector<PackagedVariable>& variables,
                               const std::vector<std::pair<std::string, std::string>>& aliases,
                               std::uint32_t version) {
    std::string out;
    append(out, version);
    out += packagedString("WhisperSpec");
    append(out, std::uint32_t{3});
    append(out, static_cast<std::uint32_t>(variables.size()));
    for (const auto& v : variables) {
        out += packagedString(v.name);
        append(out, static_cast<std::uint8_t>(v.dims.size()));
        for (const auto d : v.dims)
            append(out, d);
        append(out, v.typeCode);
        append(out, static_cast<std::uint32_t>(v.bytes.size()));
        out += v.bytes;
    }
    append(out, static_cast<std::uint32_t>(aliases.size()));
    for (const auto& [alias, target] : aliases)
        out += packagedString(alias) + packagedString(target);
    return out;
}

void writePackagedCheckpoint(const std::filesystem::path& folder, const TinyWhisper& s,
                             const FixtureTensors& w, float keyBias) {
    std::filesystem::create_directories(folder);
    std::vector<PackagedVariable> variables;
    const auto add = [&](const std::string& name, std::vector<std::uint32_t> dims,
                         const std::vector<float>& values) {
        variables.push_back(
            {.name = name, .dims = std::move(dims), .typeCode = 4, .bytes = float16Bytes(values)});
    };
    const auto scalar = [&](const std::string& name, std::uint8_t code, std::string bytes) {
        variables.push_back({.name = name, .dims = {}, .typeCode = code, .bytes = std::move(bytes)});
    };
    const auto d = static_cast<std::uint32_t>(s.width);
    const auto& v = [&](const std::string& name) -> const std::vector<float>& { return w.at(name).values; };
    const std::vector<float> keyBiasRow(d, keyBias);
    const auto block = [&](const std::string& from, const std::string& to, bool cross) {
        add(to + "/self_attention/layer_norm/gamma", {d}, v(from + ".self_attn_layer_norm.weight"));
        add(to + "/self_attention/layer_norm/beta", {d}, v(from + ".self_attn_layer_norm.bias"));
        const std::string sa = from + ".self_attn.";
        add(to + "/self_attention/linear_0/weight", {3 * d, d},
            stack({&v(sa + "q_proj.weight"), &v(sa + "k_proj.weight"), &v(sa + "v_proj.weight")}));
        add(to + "/self_attention/linear_0/bias", {3 * d},
            stack({&v(sa + "q_proj.bias"), &keyBiasRow, &v(sa + "v_proj.bias")}));
        add(to + "/self_attention/linear_1/weight", {d, d}, v(sa + "out_proj.weight"));
        add(to + "/self_attention/linear_1/bias", {d}, v(sa + "out_proj.bias"));
        if (cross) {
            const std::string ca = from + ".encoder_attn.";
            add(to + "/attention/layer_norm/gamma", {d}, v(from + ".encoder_attn_layer_norm.weight"));
            add(to + "/attention/layer_norm/beta", {d}, v(from + ".encoder_attn_layer_norm.bias"));
            add(to + "/attention/linear_0/weight", {d, d}, v(ca + "q_proj.weight"));
            add(to + "/attention/linear_0/bias", {d}, v(ca + "q_proj.bias"));
            add(to + "/attention/linear_1/weight", {2 * d, d},
                stack({&v(ca + "k_proj.weight"), &v(ca + "v_proj.weight")}));
            add(to + "/attention/linear_1/bias", {2 * d}, stack({&keyBiasRow, &v(ca + "v_proj.bias")}));
            add(to + "/attention/linear_2/weight", {d, d}, v(ca + "out_proj.weight"));
            add(to + "/attention/linear_2/bias", {d}, v(ca + "out_proj.bias"));
        }
        add(to + "/ffn/layer_norm/gamma", {d}, v(from + ".final_layer_norm.weight"));
        add(to + "/ffn/layer_norm/beta", {d}, v(from + ".final_layer_norm.bias"));
        add(to + "/ffn/linear_0/weight", {4 * d, d}, v(from + ".fc1.weight"));
        add(to + "/ffn/linear_0/bias", {4 * d}, v(from + ".fc1.bias"));
        add(to + "/ffn/linear_1/weight", {d, 4 * d}, v(from + ".fc2.weight"));
        add(to + "/ffn/linear_1/bias", {d}, v(from + ".fc2.bias"));
    };
    scalar("decoder/activation", 1, std::string(1, '\3'));
    scalar("decoder/pre_norm", 1, std::string(1, '\1'));
    std::string heads;
    append(heads, static_cast<std::int16_t>(s.heads));
    scalar("decoder/num_heads", 2, heads);
    scalar("encoder/num_heads", 2, heads);
    add("decoder/embeddings/weight", {static_cast<std::uint32_t>(s.vocabulary), d},
        v("model.decoder.embed_tokens.weight"));
    add("decoder/position_encodings/encodings", {static_cast<std::uint32_t>(s.textContext), d},
        v("model.decoder.embed_positions.weight"));
    add("decoder/layer_norm/gamma", {d}, v("model.decoder.layer_norm.weight"));
    add("decoder/layer_norm/beta", {d}, v("model.decoder.layer_norm.bias"));
    for (int layer = 0; layer < s.textLayers; ++layer)
        block("model.decoder.layers." + std::to_string(layer), "decoder/layer_" + std::to_string(layer),
              true);
    add("encoder/conv1/weight", {d, static_cast<std::uint32_t>(s.melCount), 3},
        v("model.encoder.conv1.weight"));
    add("encoder/conv1/bias", {d}, v("model.encoder.conv1.bias"));
    add("encoder/conv2/weight", {d, d, 3}, v("model.encoder.conv2.weight"));
    add("encoder/conv2/bias", {d}, v("model.encoder.conv2.bias"));
    add("encoder/position_encodings/encodings", {static_cast<std::uint32_t>(s.audioContext), d},
        v("model.encoder.embed_positions.weight"));
    add("encoder/layer_norm/gamma", {d}, v("model.encoder.layer_norm.weight"));
    add("encoder/layer_norm/beta", {d}, v("model.encoder.layer_norm.bias"));
    for (int layer = 0; layer < s.audioLayers; ++layer)
        block("model.encoder.layers." + std::to_string(layer), "encoder/layer_" + std::to_string(layer),
              false);
    writeText(folder / "model.bin",
              packagedModelBytes(variables, {{"decoder/projection/weight", "decoder/embeddings/weight"}}));
    writeText(folder / "config.json",
              Json{{"alignment_heads", {{1, 0}, {1, 1}}}, {"lang_ids", {36}}}.dump(2));
    writeText(folder / "tokenizer.json", tinyTokenizerJson(s.vocabulary));
}

} // namespace velnote::testing
