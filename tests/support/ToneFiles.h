#pragma once

#include <cmath>
#include <filesystem>
#include <memory>
#include <sndfile.h>
#include <stdexcept>
#include <vector>

namespace velnote::testing {

// Sine tones and silences for playing into the test sound server.
struct ToneFiles {
    struct Segment {
        double seconds;
        double frequency; // Hz; 0 = silence
        double amplitude; // of full scale
    };

    // A 32-bit float WAV file of the segments in order, every channel alike.
    static void write(const std::filesystem::path& path, int sampleRate, int channels,
                      const std::vector<Segment>& segments) {
        std::vector<float> samples;
        for (const Segment& segment : segments) {
            const auto frames = static_cast<std::size_t>(segment.seconds * sampleRate);
            for (std::size_t i = 0; i < frames; ++i) {
                const double t = static_cast<double>(i) / sampleRate;
                const auto value =
                    static_cast<float>(segment.amplitude * std::sin(2 * M_PI * segment.frequency * t));
                for (int c = 0; c < channels; ++c)
                    samples.push_back(value);
            }
        }
        SF_INFO info{};
        info.samplerate = sampleRate;
        info.channels = channels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file(sf_open(path.c_str(), SFM_WRITE, &info), &sf_close);
        if (!file)
            throw std::runtime_error("cannot write " + path.string());
        sf_writef_float(file.get(), samples.data(), static_cast<sf_count_t>(samples.size() / channels));
    }
};

} // namespace velnote::testing
