#include "capture/recording/CaptureBufferProcessor.h"

#include "session/VelnoteLogger.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace velnote {

namespace {
std::string describe(const platform::AudioFormat& format) {
    return std::to_string(format.sampleRate) + " Hz " + std::to_string(format.channels) + " ch float32";
}
} // namespace

CaptureBufferProcessor::CaptureBufferProcessor(CaptureChannel channel, RecordingRuntimeSettings& gains,
                                               AudioMuteState& mutes,
                                               std::unique_ptr<AudioChunkSequence> chunks,
                                               LevelHandler publishLevel)
    : channel_(channel), texts_(captureTexts(channel)), gains_(gains), mutes_(mutes),
      chunks_(std::move(chunks)), publishLevel_(std::move(publishLevel)),
      meter_(channel == CaptureChannel::microphone ? InputLevelMeter::kMicMaxGain
                                                   : InputLevelMeter::kSysMaxGain) {}

void CaptureBufferProcessor::process(std::vector<float> interleaved, const platform::AudioFormat& format) {
    std::vector<float> converted;
    try {
        if (!resampler_ || !(resampler_->input() == format)) {
            resampler_.reset();
            resampler_ = std::make_unique<platform::StreamResampler>(format);
        }
        converted = resampler_->process(std::move(interleaved));
    } catch (const std::exception& e) {
        resampler_.reset();
        if (!conversionFailureLogged_) {
            conversionFailureLogged_ = true;
            VelnoteLogger::audio().error(texts_.convertFailed, describe(format) + " (" + e.what() + ")",
                                         describe(platform::StreamResampler::kWorkingFormat));
        }
        return;
    }
    if (!converted.empty()) {
        handle(std::move(converted));
    }
}

void CaptureBufferProcessor::finish() {
    if (resampler_) {
        std::vector<float> tail;
        try {
            tail = resampler_->flush();
        } catch (const std::exception&) {
            // Only the last few milliseconds are lost.
        }
        resampler_.reset();
        if (!tail.empty()) {
            handle(std::move(tail));
        }
    }
    chunks_->close();
    // The microphone logs a conversion failure once per start; the system side once per capture.
    if (channel_ == CaptureChannel::microphone) {
        conversionFailureLogged_ = false;
    }
}

void CaptureBufferProcessor::handle(std::vector<float> samples) {
    const AudioMuteState::State mute = mutes_.state();
    const bool muted = channel_ == CaptureChannel::microphone ? mute.micMuted : mute.sysMuted;
    const double gain =
        channel_ == CaptureChannel::microphone ? gains_.micInputGain() : gains_.sysInputGain();

    if (const auto level = meter_.next(samples, gain, muted); level && publishLevel_) {
        publishLevel_(*level);
    }
    const auto factor = static_cast<float>(gain);
    if (factor != 1.0f && !std::isnan(factor)) {
        for (float& sample : samples) {
            sample = std::clamp(sample * factor, -1.0f, 1.0f);
        }
    }
    // Muted audio goes nowhere: not to the live transcription (and on to a summary provider).
    if (!muted && feed_) {
        feed_(samples, platform::StreamResampler::kWorkingFormat);
    }
    chunks_->write(samples, muted);
}

} // namespace velnote
