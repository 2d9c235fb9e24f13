#pragma once

#include <cstdint>

namespace velnote::platform {

// The layout of audio samples handed between the sound server, the captures and their
// consumers: interleaved 32-bit float samples, nominally in -1.0 ... 1.0.
struct AudioFormat {
    std::uint32_t sampleRate = 0; // frames per second
    std::uint32_t channels = 0;   // samples per frame

    bool operator==(const AudioFormat&) const = default;
};

} // namespace velnote::platform
