#include "platform/audio/StreamResampler.h"

#include <soxr.h>
#include <stdexcept>
#include <string>

namespace velnote::platform {

void StreamResampler::Deleter::operator()(soxr* resampler) const {
    soxr_delete(resampler);
}

StreamResampler::StreamResampler(AudioFormat input) : input_(input) {
    if (input.sampleRate == 0 || input.channels == 0) {
        throw std::invalid_argument("audio format without rate or channels");
    }
    if (input.sampleRate == kWorkingFormat.sampleRate) {
        return;
    }
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    // One thread: the capture's own queue is the place for this work.
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    resampler_.reset(
        soxr_create(input.sampleRate, kWorkingFormat.sampleRate, 1, &error, &io, &quality, &runtime));
    if (!resampler_ || error) {
        throw std::runtime_error(std::string("cannot create resampler: ") + (error ? error : "unknown"));
    }
}

StreamResampler::~StreamResampler() = default;

std::vector<float> StreamResampler::process(std::vector<float> interleaved) {
    const std::size_t channels = input_.channels;
    const std::size_t frames = interleaved.size() / channels;
    // Averaging in place: frame i only reads samples at or after position i.
    if (channels > 1) {
        for (std::size_t i = 0; i < frames; ++i) {
            float sum = 0.0f;
            for (std::size_t c = 0; c < channels; ++c) {
                sum += interleaved[i * channels + c];
            }
            interleaved[i] = sum / static_cast<float>(channels);
        }
    }
    interleaved.resize(frames);
    if (!resampler_) {
        return interleaved;
    }
    return drain(interleaved.data(), frames);
}

std::vector<float> StreamResampler::flush() {
    if (!resampler_) {
        return {};
    }
    return drain(nullptr, 0);
}

// Runs the resampler until it has taken every input frame (or, for a flush, until it gives no
// more), growing the output as it goes.
std::vector<float> StreamResampler::drain(const float* in, std::size_t frames) {
    const double ratio = static_cast<double>(kWorkingFormat.sampleRate) / input_.sampleRate;
    std::vector<float> out;
    std::size_t produced = 0;
    std::size_t consumed = 0;
    for (;;) {
        const std::size_t room =
            static_cast<std::size_t>(static_cast<double>(frames - consumed) * ratio) + 256;
        out.resize(produced + room);
        std::size_t inDone = 0;
        std::size_t outDone = 0;
        const soxr_error_t error =
            soxr_process(resampler_.get(), in ? in + consumed : nullptr, frames - consumed, &inDone,
                         out.data() + produced, room, &outDone);
        if (error) {
            throw std::runtime_error(std::string("resampling failed: ") + error);
        }
        consumed += inDone;
        produced += outDone;
        const bool inputTaken = in ? consumed >= frames : outDone < room;
        if (inputTaken || (inDone == 0 && outDone == 0)) {
            break;
        }
    }
    out.resize(produced);
    return out;
}

} // namespace velnote::platform
