#pragma once

#include <cmath>
#include <filesystem>
#include <memory>
#include <sndfile.h>
#include <stdexcept>
#include <vector>

namespace velnote::testing {

// Small WAV files for tests, written and read with libsndfile.
struct WavFixtures {
    struct Closer {
        void operator()(SNDFILE* file) const { sf_close(file); }
    };
    using File = std::unique_ptr<SNDFILE, Closer>;

    // 16 kHz mono 16-bit PCM (the chunk format) from exact 16-bit values.
    static void writePcm16(const std::filesystem::path& path, const std::vector<short>& samples) {
        SF_INFO info{};
        info.samplerate = 16000;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        File file(sf_open(path.c_str(), SFM_WRITE, &info));
        if (!file)
            throw std::runtime_error("cannot create " + path.string());
        sf_writef_short(file.get(), samples.data(), static_cast<sf_count_t>(samples.size()));
    }

    // `count` samples of one constant 16-bit value.
    static void writeConstant(const std::filesystem::path& path, std::size_t count, short value) {
        writePcm16(path, std::vector<short>(count, value));
    }

    // A 440 Hz tone at a quarter of full scale.
    static void writeTone(const std::filesystem::path& path, std::size_t count = 3200) {
        std::vector<short> samples(count);
        for (std::size_t i = 0; i < count; ++i)
            samples[i] =
                static_cast<short>(8000 * std::sin(2 * M_PI * 440.0 * static_cast<double>(i) / 16000.0));
        writePcm16(path, samples);
    }

    struct Contents {
        SF_INFO info{};
        std::vector<short> samples;
    };

    // The file's format and its samples as 16-bit values (channel 0).
    static Contents read(const std::filesystem::path& path) {
        Contents contents;
        File file(sf_open(path.c_str(), SFM_READ, &contents.info));
        if (!file)
            throw std::runtime_error("cannot open " + path.string());
        std::vector<short> all(static_cast<std::size_t>(contents.info.frames * contents.info.channels));
        sf_readf_short(file.get(), all.data(), contents.info.frames);
        for (std::size_t i = 0; i < all.size(); i += static_cast<std::size_t>(contents.info.channels))
            contents.samples.push_back(all[i]);
        return contents;
    }
};

} // namespace velnote::testing
