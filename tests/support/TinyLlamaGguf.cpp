#include "support/TinyLlamaGguf.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ggml.h>
#include <gguf.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace velnote::testing {
namespace {

struct ContextDeleter {
    void operator()(ggml_context* context) const { ggml_free(context); }
};
struct GgufDeleter {
    void operator()(gguf_context* context) const { gguf_free(context); }
};

std::string utf8(unsigned codePoint) {
    std::string text;
    if (codePoint < 0x80) {
        text += static_cast<char>(codePoint);
    } else {
        text += static_cast<char>(0xC0 | (codePoint >> 6));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
    return text;
}

// GPT-2's printable stand-ins for the 256 bytes, in its token order.
std::vector<std::string> byteTokens() {
    std::vector<unsigned> bytes;
    for (unsigned b = '!'; b <= '~'; ++b)
        bytes.push_back(b);
    for (unsigned b = 0xA1; b <= 0xAC; ++b)
        bytes.push_back(b);
    for (unsigned b = 0xAE; b <= 0xFF; ++b)
        bytes.push_back(b);
    std::vector<unsigned> codePoints = bytes;
    unsigned extra = 0;
    for (unsigned b = 0; b < 256; ++b) {
        if (std::find(bytes.begin(), bytes.end(), b) == bytes.end()) {
            bytes.push_back(b);
            codePoints.push_back(256 + extra++);
        }
    }
    std::vector<std::string> tokens;
    for (const unsigned c : codePoints)
        tokens.push_back(utf8(c));
    return tokens;
}

ggml_tensor* tensor(ggml_context* context, gguf_context* gguf, const char* name, std::int64_t inner,
                    std::int64_t outer, float value) {
    ggml_tensor* t = outer > 0 ? ggml_new_tensor_2d(context, GGML_TYPE_F32, inner, outer)
                               : ggml_new_tensor_1d(context, GGML_TYPE_F32, inner);
    ggml_set_name(t, name);
    auto* data = static_cast<float*>(t->data);
    for (std::int64_t i = 0; i < ggml_nelements(t); ++i)
        data[i] = value;
    gguf_add_tensor(gguf, t);
    return t;
}

// F16 weights drawn evenly from ±0.05 (xorshift, so that half a billion of them take seconds).
ggml_tensor* randomTensor(ggml_context* context, gguf_context* gguf, const std::string& name,
                          std::int64_t inner, std::int64_t outer, std::uint64_t& state) {
    ggml_tensor* t = ggml_new_tensor_2d(context, GGML_TYPE_F16, inner, outer);
    ggml_set_name(t, name.c_str());
    auto* data = static_cast<ggml_fp16_t*>(t->data);
    for (std::int64_t i = 0; i < ggml_nelements(t); ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        const float unit = static_cast<float>(state >> 40) / static_cast<float>(1 << 24);
        data[i] = ggml_fp32_to_fp16((unit - 0.5f) * 0.1f);
    }
    gguf_add_tensor(gguf, t);
    return t;
}

} // namespace

void writeTinyLlamaGguf(const std::filesystem::path& path, const TinyLlamaShape& shape) {
    std::vector<std::string> tokens = byteTokens();
    tokens.push_back("he");
    tokens.push_back("<|bos|>");
    tokens.push_back("<|endoftext|>");
    const std::size_t normal = tokens.size() - 2;
    tokens.insert(tokens.end(), shape.controlTokens.begin(), shape.controlTokens.end());
    const auto vocab = static_cast<std::int64_t>(tokens.size());
    std::vector<std::int32_t> types(tokens.size(), 3); // control
    std::fill(types.begin(), types.begin() + static_cast<std::ptrdiff_t>(normal), 1);
    const std::int64_t bos = static_cast<std::int64_t>(normal);

    std::unique_ptr<gguf_context, GgufDeleter> gguf(gguf_init_empty());
    gguf_context* g = gguf.get();
    gguf_set_val_str(g, "general.architecture", "llama");
    gguf_set_val_str(g, "general.name", "tiny test llama");
    gguf_set_val_u32(g, "llama.context_length", static_cast<std::uint32_t>(shape.contextLength));
    gguf_set_val_u32(g, "llama.embedding_length", static_cast<std::uint32_t>(shape.embedding));
    gguf_set_val_u32(g, "llama.feed_forward_length", static_cast<std::uint32_t>(shape.feedForward));
    gguf_set_val_u32(g, "llama.block_count", static_cast<std::uint32_t>(shape.layers));
    gguf_set_val_u32(g, "llama.attention.head_count", static_cast<std::uint32_t>(shape.heads));
    gguf_set_val_u32(g, "llama.attention.head_count_kv", static_cast<std::uint32_t>(shape.heads));
    gguf_set_val_f32(g, "llama.attention.layer_norm_rms_epsilon", 1e-5f);
    gguf_set_val_u32(g, "llama.rope.dimension_count",
                     static_cast<std::uint32_t>(shape.embedding / shape.heads));
    gguf_set_val_u32(g, "llama.vocab_size", static_cast<std::uint32_t>(vocab));
    gguf_set_val_str(g, "tokenizer.ggml.model", "gpt2");
    gguf_set_val_str(g, "tokenizer.ggml.pre", "default");
    std::vector<const char*> texts;
    for (const auto& token : tokens)
        texts.push_back(token.c_str());
    gguf_set_arr_str(g, "tokenizer.ggml.tokens", texts.data(), texts.size());
    gguf_set_arr_data(g, "tokenizer.ggml.token_type", GGUF_TYPE_INT32, types.data(), types.size());
    const char* merges[] = {"h e"};
    gguf_set_arr_str(g, "tokenizer.ggml.merges", merges, 1);
    gguf_set_val_u32(g, "tokenizer.ggml.bos_token_id", static_cast<std::uint32_t>(bos));
    gguf_set_val_u32(g, "tokenizer.ggml.eos_token_id", static_cast<std::uint32_t>(bos + 1));

    const std::int64_t e = shape.embedding;
    const std::int64_t ff = shape.feedForward;
    const std::int64_t layers = shape.layers;
    const std::size_t weightBytes = shape.randomSeed ? sizeof(ggml_fp16_t) : sizeof(float);
    const auto bytes =
        static_cast<std::size_t>(2 * e * vocab + layers * (4 * e * e + 3 * e * ff)) * weightBytes +
        static_cast<std::size_t>((2 * layers + 1) * e) * sizeof(float);
    std::unique_ptr<ggml_context, ContextDeleter> context(ggml_init(
        {bytes + static_cast<std::size_t>(10 * layers + 8) * ggml_tensor_overhead(), nullptr, false}));
    ggml_context* c = context.get();
    std::uint64_t state = shape.randomSeed.value_or(1) | 1;
    const auto matrix = [&](const std::string& name, std::int64_t inner, std::int64_t outer, float value) {
        return shape.randomSeed ? randomTensor(c, g, name, inner, outer, state)
                                : tensor(c, g, name.c_str(), inner, outer, value);
    };
    // With equal, non-zero embeddings the last hidden state is all ones, so a row of ones in the
    // output weights gives its token the logit `e` and every other token 0.
    const auto favoured = std::find(tokens.begin(), tokens.end(), shape.favouredToken);
    const bool favours = !shape.favouredToken.empty() && favoured != tokens.end();
    if (!shape.favouredToken.empty() && (!favours || shape.randomSeed))
        throw std::invalid_argument("cannot favour " + shape.favouredToken);
    matrix("token_embd.weight", e, vocab, favours ? 1.0f : 0.0f);
    tensor(c, g, "output_norm.weight", e, 0, 1.0f);
    ggml_tensor* output = matrix("output.weight", e, vocab, 0.0f);
    if (favours) {
        auto* row = static_cast<float*>(output->data) + (favoured - tokens.begin()) * e;
        std::fill(row, row + e, 1.0f);
    }
    for (std::int64_t layer = 0; layer < layers; ++layer) {
        const std::string block = "blk." + std::to_string(layer) + ".";
        tensor(c, g, (block + "attn_norm.weight").c_str(), e, 0, 1.0f);
        matrix(block + "attn_q.weight", e, e, 0.0f);
        matrix(block + "attn_k.weight", e, e, 0.0f);
        matrix(block + "attn_v.weight", e, e, 0.0f);
        matrix(block + "attn_output.weight", e, e, 0.0f);
        tensor(c, g, (block + "ffn_norm.weight").c_str(), e, 0, 1.0f);
        matrix(block + "ffn_gate.weight", e, ff, 0.0f);
        matrix(block + "ffn_up.weight", e, ff, 0.0f);
        matrix(block + "ffn_down.weight", ff, e, 0.0f);
    }
    if (!gguf_write_to_file(g, path.c_str(), false))
        throw std::runtime_error("cannot write " + path.string());
}

} // namespace velnote::testing
