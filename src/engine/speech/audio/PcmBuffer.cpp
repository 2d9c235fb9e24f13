#include "engine/speech/audio/PcmBuffer.h"

#include "engine/foundation/Logging.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace vocalith {

using basalith::Logging;

bool PcmFormat::isValid() const {
    return std::isfinite(sampleRate) && sampleRate > 0 && channelCount > 0;
}

PcmBuffer::PcmBuffer(const PcmFormat& format, std::uint32_t capacity)
    : format_(format), capacity_(capacity), planes_(format.channelCount, std::vector<float>(capacity, 0.0f)) {
}

std::optional<PcmBuffer> PcmBuffer::make(const PcmFormat& format, std::uint32_t frameCapacity) {
    if (!format.isValid())
        return std::nullopt;
    try {
        return PcmBuffer(format, frameCapacity);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
}

void PcmBuffer::setFrameLength(std::uint32_t frames) {
    length_ = std::min(frames, capacity_);
}

bool PcmBuffer::appendContents(const PcmBuffer& source, std::int64_t startingFrame,
                               std::uint32_t frameCount) {
    if (!(source.format_ == format_)) {
        Logging::debug("Format mismatch");
        return false;
    }
    if (startingFrame < 0 || static_cast<std::int64_t>(source.length_) < startingFrame + frameCount) {
        Logging::error("Insufficient audio in buffer");
        return false;
    }
    if (capacity_ < static_cast<std::uint64_t>(length_) + frameCount) {
        Logging::debug("Insufficient space in buffer, reducing frame count to fit");
        frameCount = capacity_ - length_;
    }
    // Every plane, not only the first: a multi-channel destination keeps all its channels.
    for (std::uint32_t channel = 0; channel < format_.channelCount; ++channel) {
        const float* from = source.channelData(channel) + startingFrame;
        std::copy(from, from + frameCount, channelData(channel) + length_);
    }
    length_ += frameCount;
    return true;
}

} // namespace vocalith
