#include "engine/speech/audio/AudioConverter.h"

#include "engine/speech/WhisperError.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <soxr.h>
#include <string>
#include <vector>

namespace vocalith {

namespace {
constexpr std::uint64_t kBlockFrames = 16384;
} // namespace

void AudioConverter::Deleter::operator()(soxr* resampler) const {
    soxr_delete(resampler);
}

AudioConverter::AudioConverter(const PcmFormat& input, const PcmFormat& output)
    : input_(input), output_(output) {}

AudioConverter::~AudioConverter() = default;

std::unique_ptr<AudioConverter> AudioConverter::make(const PcmFormat& input, const PcmFormat& output) {
    if (!input.isValid() || !output.isValid() || input.channelCount != output.channelCount)
        return nullptr;
    std::unique_ptr<AudioConverter> converter(new AudioConverter(input, output));
    if (input.sampleRate == output.sampleRate)
        return converter;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t error = nullptr;
    converter->resampler_.reset(
        soxr_create(input.sampleRate, output.sampleRate, input.channelCount, &error, &io, &quality, nullptr));
    if (error || !converter->resampler_)
        return nullptr;
    return converter;
}

std::uint64_t AudioConverter::outputFrameCount(std::uint64_t inputFrames, double inputRate,
                                               double outputRate) {
    const long double exact = static_cast<long double>(inputFrames) * outputRate / inputRate;
    if (!std::isfinite(static_cast<double>(exact)) || exact >= 1.8e19L)
        return std::numeric_limits<std::uint64_t>::max();
    // The default rounding mode rounds halves to even.
    long double rounded = std::nearbyintl(exact);
    if (rounded != exact)
        rounded = std::max(rounded, 1.0L);
    return static_cast<std::uint64_t>(rounded);
}

PcmBuffer AudioConverter::bufferOf(std::vector<std::vector<float>>& planes, std::uint64_t frames) const {
    if (frames > std::numeric_limits<std::uint32_t>::max())
        throw WhisperError::audioProcessingFailed("Failed to create converted buffer");
    auto buffer = PcmBuffer::make(output_, static_cast<std::uint32_t>(frames));
    if (!buffer)
        throw WhisperError::audioProcessingFailed("Failed to create converted buffer");
    for (std::uint32_t channel = 0; channel < output_.channelCount; ++channel)
        std::copy_n(planes[channel].begin(), frames, buffer->channelData(channel));
    buffer->setFrameLength(static_cast<std::uint32_t>(frames));
    return *std::move(buffer);
}

PcmBuffer AudioConverter::run(const float* const* planes, std::uint64_t frames) {
    const std::uint32_t channels = input_.channelCount;
    std::vector<std::vector<float>>& out = scratch_;
    out.resize(channels);
    std::vector<const float*> in(channels, nullptr);
    if (planes)
        std::copy_n(planes, channels, in.begin());
    const bool flushing = planes == nullptr;
    // Fed in blocks: given a whole read at once, the resampler grows its own queue to hold it.
    const std::size_t room = outputFrameCount(kBlockFrames, input_.sampleRate, output_.sampleRate) + 4096;
    std::vector<float*> outPlanes(channels);
    std::uint64_t produced = 0;
    std::uint64_t remaining = frames;
    for (;;) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            out[c].resize(produced + room);
            outPlanes[c] = out[c].data() + produced;
        }
        const std::size_t block = std::min(remaining, kBlockFrames);
        std::size_t used = 0;
        std::size_t made = 0;
        const soxr_error_t error = soxr_process(resampler_.get(), flushing ? nullptr : in.data(),
                                                flushing ? 0 : block, &used, outPlanes.data(), room, &made);
        if (error)
            throw WhisperError::audioProcessingFailed(std::string("Error converting audio: ") + error);
        produced += made;
        for (auto& plane : in)
            plane += used;
        remaining -= used;
        const bool drained = made < room;
        if (flushing ? made == 0 : remaining == 0 && drained)
            break;
    }
    return bufferOf(out, produced);
}

PcmBuffer AudioConverter::convert(const PcmBuffer& input) {
    if (!(input.format() == input_))
        throw WhisperError::audioProcessingFailed("Error converting audio: the buffer's format is not the "
                                                  "converter's input format");
    const std::uint32_t frames = input.frameLength();
    std::vector<const float*> planes(input_.channelCount);
    for (std::uint32_t c = 0; c < input_.channelCount; ++c)
        planes[c] = input.channelData(c);
    framesIn_ += frames;
    if (!resampler_) {
        framesOut_ += frames;
        return input;
    }
    PcmBuffer converted = run(planes.data(), frames);
    framesOut_ += converted.frameLength();
    return converted;
}

PcmBuffer AudioConverter::finish() {
    const std::uint64_t target = outputFrameCount(framesIn_, input_.sampleRate, output_.sampleRate);
    const std::uint64_t already = framesOut_;
    framesIn_ = 0;
    framesOut_ = 0;
    std::vector<std::vector<float>> planes(output_.channelCount);
    std::uint64_t held = 0;
    if (resampler_) {
        PcmBuffer tail = run(nullptr, 0);
        soxr_clear(resampler_.get());
        held = tail.frameLength();
        for (std::uint32_t c = 0; c < output_.channelCount; ++c)
            planes[c].assign(tail.channelData(c), tail.channelData(c) + held);
    }
    // The resampler rounds its own way; the stream's length follows the rounding rule above, with
    // at most a frame cut or added as silence at the very end.
    const std::uint64_t wanted = target > already ? target - already : 0;
    for (auto& plane : planes)
        plane.resize(wanted, 0.0f);
    return bufferOf(planes, wanted);
}

} // namespace vocalith
