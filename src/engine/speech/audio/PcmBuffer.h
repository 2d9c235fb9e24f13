#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace vocalith {

// The layout of every buffer the audio side hands around: 32-bit float samples, one plane per
// channel (non-interleaved), so four bytes per frame and channel plane.
struct PcmFormat {
    double sampleRate = 0;          // frames per second
    std::uint32_t channelCount = 0; // planes

    // The engine's working format: 16 kHz mono.
    static PcmFormat working() { return {16000, 1}; }
    // A rate above 0 and finite, at least one channel.
    bool isValid() const;
    // Bytes of one frame within one plane.
    static constexpr std::uint32_t bytesPerFrame = 4;

    bool operator==(const PcmFormat&) const = default;
};

// A block of PCM audio: a format, room for `frameCapacity` frames and the first `frameLength` of
// them filled. Owns its planes; a plain value, copied and moved like one. Not synchronised.
class PcmBuffer {
  public:
    // Absent when the format is not valid or the planes cannot be allocated.
    static std::optional<PcmBuffer> make(const PcmFormat& format, std::uint32_t frameCapacity);

    const PcmFormat& format() const { return format_; }
    std::uint32_t frameCapacity() const { return capacity_; }
    std::uint32_t frameLength() const { return length_; }
    // Clamped to the capacity.
    void setFrameLength(std::uint32_t frames);

    // The plane of one channel, `frameCapacity` floats; channel must be below channelCount.
    float* channelData(std::uint32_t channel) { return planes_[channel].data(); }
    const float* channelData(std::uint32_t channel) const { return planes_[channel].data(); }

    // Copies `frameCount` frames of `source`, from `startingFrame` on, after this buffer's filled
    // frames, every channel. False when the formats differ ("Format mismatch", debug line) or the
    // source holds fewer frames than asked ("Insufficient audio in buffer", error line). A count that
    // does not fit is cut to the free room (debug line) and the call still succeeds.
    bool appendContents(const PcmBuffer& source, std::int64_t startingFrame, std::uint32_t frameCount);

  private:
    PcmBuffer(const PcmFormat& format, std::uint32_t capacity);

    PcmFormat format_;
    std::uint32_t capacity_ = 0;
    std::uint32_t length_ = 0;
    std::vector<std::vector<float>> planes_;
};

} // namespace vocalith
