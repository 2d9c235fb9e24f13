#pragma once

#include "engine/speech/audio/PcmBuffer.h"

#include <cstdint>
#include <memory>
#include <vector>

struct soxr;

namespace vocalith {

// Converts one stream of PCM buffers to another sample rate (libsoxr, high quality, linear phase).
// The filter state carries from one `convert` to the next, so the boundaries between the buffers of
// a stream leave no trace in the output; the output is time-aligned with the input, and the
// resampler holds back a few milliseconds until the next buffer or `finish`.
//
// Belongs to one stream at a time; not synchronised.
class AudioConverter {
  public:
    // Absent when a format is not valid, the channel counts differ (channels are mixed before
    // conversion, never here) or the resampler cannot be made.
    static std::unique_ptr<AudioConverter> make(const PcmFormat& input, const PcmFormat& output);
    ~AudioConverter();
    AudioConverter(const AudioConverter&) = delete;
    AudioConverter& operator=(const AudioConverter&) = delete;

    const PcmFormat& inputFormat() const { return input_; }
    const PcmFormat& outputFormat() const { return output_; }

    // Output frames for a stream of `inputFrames`: inputFrames × outputRate ÷ inputRate, rounded to
    // the nearest integer with halves to even, and at least 1 when the quotient has a fraction.
    static std::uint64_t outputFrameCount(std::uint64_t inputFrames, double inputRate, double outputRate);

    // Feeds `input` (in the input format) and returns the output frames that are ready. Throws
    // WhisperError::audioProcessingFailed for a buffer of another format or a resampler failure.
    PcmBuffer convert(const PcmBuffer& input);
    // Ends the stream: returns the frames still held back, so many that the stream's output comes
    // to exactly outputFrameCount(all input frames). The converter then starts a new stream.
    PcmBuffer finish();

  private:
    struct Deleter {
        void operator()(soxr* resampler) const;
    };

    AudioConverter(const PcmFormat& input, const PcmFormat& output);
    PcmBuffer run(const float* const* planes, std::uint64_t frames);
    PcmBuffer bufferOf(std::vector<std::vector<float>>& planes, std::uint64_t frames) const;

    PcmFormat input_;
    PcmFormat output_;
    std::unique_ptr<soxr, Deleter> resampler_; // none when the rates are equal: frames pass through
    std::vector<std::vector<float>> scratch_;  // output planes, kept between calls
    std::uint64_t framesIn_ = 0;               // of the current stream
    std::uint64_t framesOut_ = 0;
};

} // namespace vocalith
