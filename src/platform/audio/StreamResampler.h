#pragma once

#include "platform/audio/AudioFormat.h"

#include <memory>
#include <span>
#include <vector>

struct soxr;

namespace velnote::platform {

// Brings one stream's audio to the working format: 16 kHz mono. Channels are averaged, then one
// streaming resampler (libsoxr, high quality, anti-aliased) runs across all the stream's buffers,
// so no buffer boundary is audible. A stream already at 16 kHz mono passes through unchanged.
// One per stream; not thread-safe.
class StreamResampler {
  public:
    static constexpr AudioFormat kWorkingFormat{16000, 1};

    // Throws std::invalid_argument for a format without rate or channels, std::runtime_error when
    // the resampler cannot be made.
    explicit StreamResampler(AudioFormat input);
    ~StreamResampler();
    StreamResampler(const StreamResampler&) = delete;
    StreamResampler& operator=(const StreamResampler&) = delete;

    const AudioFormat& input() const { return input_; }

    // Converts whole frames of interleaved input; returns the working-format samples ready so far
    // (the resampler holds back a few milliseconds until the next call or flush()).
    std::vector<float> process(std::vector<float> interleaved);
    // The samples still held back, at the end of the stream.
    std::vector<float> flush();

  private:
    struct Deleter {
        void operator()(soxr* resampler) const;
    };

    std::vector<float> drain(const float* in, std::size_t frames);

    AudioFormat input_;
    std::unique_ptr<soxr, Deleter> resampler_; // none when the input is already 16 kHz
};

} // namespace velnote::platform
