#pragma once

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <sndfile.h>
#include <stdexcept>
#include <vector>

namespace vocalith::testing {

// Audio made by the tests themselves: tones, silences and WAV files of any rate and layout.
struct TestAudio {
    // A sine of `frequency` Hz at `amplitude`, `seconds` long at `rate`.
    static std::vector<float> tone(double seconds, double rate, double frequency = 440,
                                   double amplitude = 0.5) {
        const auto count = static_cast<std::size_t>(std::llround(seconds * rate));
        std::vector<float> samples(count);
        for (std::size_t i = 0; i < count; ++i)
            samples[i] = static_cast<float>(amplitude *
                                            std::sin(2 * M_PI * frequency * static_cast<double>(i) / rate));
        return samples;
    }

    // Writes interleaved frames built by `sample(frame, channel)`; 32-bit float WAV by default,
    // 16-bit PCM with `format` SF_FORMAT_PCM_16. Written in blocks, so long files stay cheap.
    static void write(const std::filesystem::path& path, int rate, int channels, std::int64_t frames,
                      const std::function<float(std::int64_t frame, int channel)>& sample,
                      int format = SF_FORMAT_FLOAT) {
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = SF_FORMAT_WAV | format;
        std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file(sf_open(path.c_str(), SFM_WRITE, &info), sf_close);
        if (!file)
            throw std::runtime_error("cannot create " + path.string());
        std::vector<float> block;
        for (std::int64_t start = 0; start < frames; start += 65536) {
            const std::int64_t count = std::min<std::int64_t>(65536, frames - start);
            block.resize(static_cast<std::size_t>(count * channels));
            for (std::int64_t f = 0; f < count; ++f)
                for (int c = 0; c < channels; ++c)
                    block[static_cast<std::size_t>(f * channels + c)] = sample(start + f, c);
            sf_writef_float(file.get(), block.data(), count);
        }
    }

    // A mono file holding exactly `samples`.
    static void writeMono(const std::filesystem::path& path, int rate, const std::vector<float>& samples) {
        write(path, rate, 1, static_cast<std::int64_t>(samples.size()),
              [&](std::int64_t frame, int) { return samples[static_cast<std::size_t>(frame)]; });
    }

    // A sine at `frequency` Hz and `amplitude` on every channel (channel c scaled by gains[c]).
    static void writeTone(const std::filesystem::path& path, int rate, int channels, double seconds,
                          std::vector<double> gains = {}, double frequency = 440, double amplitude = 0.5,
                          int format = SF_FORMAT_FLOAT) {
        gains.resize(static_cast<std::size_t>(channels), 1.0);
        const auto frames = static_cast<std::int64_t>(std::llround(seconds * rate));
        write(
            path, rate, channels, frames,
            [&](std::int64_t frame, int channel) {
                return static_cast<float>(gains[static_cast<std::size_t>(channel)] * amplitude *
                                          std::sin(2 * M_PI * frequency * static_cast<double>(frame) / rate));
            },
            format);
    }
};

} // namespace vocalith::testing
