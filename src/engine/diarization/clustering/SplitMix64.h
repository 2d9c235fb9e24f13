#pragma once

#include <cstdint>

namespace diarith {

// The published SplitMix64 generator, the engine's only source of random numbers. Its draws are
// part of the clustering's reproducible result, so none of them may change.
class SplitMix64 {
  public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        state_ += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in [0, bound) by the multiply-shift method with rejection; bound must be at least 1.
    std::uint64_t nextBelow(std::uint64_t bound) {
        unsigned __int128 m = static_cast<unsigned __int128>(next()) * bound;
        if (static_cast<std::uint64_t>(m) < bound) {
            const std::uint64_t threshold = (0 - bound) % bound;
            while (static_cast<std::uint64_t>(m) < threshold)
                m = static_cast<unsigned __int128>(next()) * bound;
        }
        return static_cast<std::uint64_t>(m >> 64);
    }

    // Uniform in [lo, hi) from 24 random bits; lo < hi with a finite difference.
    float nextFloat(float lo, float hi) {
        for (;;) {
            const auto r = static_cast<float>(next() & 0xFFFFFFu);
            const float value = lo + (hi - lo) * (r / 16777216.0f);
            if (value != hi)
                return value;
        }
    }

  private:
    std::uint64_t state_;
};

} // namespace diarith
