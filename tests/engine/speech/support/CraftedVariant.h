#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace vocalith::testing {

// A variant folder the engine loads and runs end to end without real weights: the mel model and
// the encoder at the real window (480000 samples, 1500 frames) with tiny random weights, a text
// decoder (and its context prefill) scripted to say "Hello world." from 0 s to `closingSeconds`
// of every window whatever it hears (and to name Japanese when asked for the language), and the
// test tokenizer's files.
struct CraftedVariant {
    double closingSeconds = 8.0; // the window's one segment ends here; the next window starts here
    std::uint32_t encoderSeed = 2;

    void write(const std::filesystem::path& folder) const;
};

// The scripted decoder of a crafted variant and its context prefill alone, for an encoder output
// of `audioFrames` frames.
void writeScriptedDecoder(const std::filesystem::path& folder, double closingSeconds, int audioFrames = 1500);

// Every file below `folder` by its path below it ("/" separated), with its bytes.
std::vector<std::pair<std::string, std::string>> filesBelow(const std::filesystem::path& folder);

} // namespace vocalith::testing
