#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velnote::testing {

struct TinyLlamaShape {
    int contextLength = 256; // the trained context, in tokens
    int embedding = 16;
    int heads = 2;
    int feedForward = 32;
    int layers = 1;
    // Random F16 weights from this seed instead of zeros: a model of real size and speed for the
    // benchmark (1024 wide, 30 layers and 4096 feed-forward give half a billion parameters).
    std::optional<std::uint64_t> randomSeed;
    // The token text the model always answers with ("a", or "<|endoftext|>" for a model that ends
    // at once): its logit stands far above the others. Empty: every logit is equal.
    std::string favouredToken;
    // More control tokens after "<|endoftext|>", such as the ChatML markers.
    std::vector<std::string> controlTokens;
};

// Writes a llama GGUF model (one layer unless the shape says otherwise) of `shape` with a byte-level
// vocabulary (the 256 GPT-2 byte tokens, one merge, "<|bos|>" and "<|endoftext|>"): a few kilobytes that
// llama.cpp loads in milliseconds. Its weights are zero and its norms one, so every logit is equal and greedy
// decoding always picks token 0, the byte "!" (unless a favoured token is set).
void writeTinyLlamaGguf(const std::filesystem::path& path, const TinyLlamaShape& shape = {});

} // namespace velnote::testing
