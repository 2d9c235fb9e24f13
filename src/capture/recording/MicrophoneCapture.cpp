#include "capture/recording/MicrophoneCapture.h"

#include "capture/controls/AvailableMicDevice.h"
#include "platform/audio/AudioServerError.h"
#include "platform/concurrency/TimerScheduler.h"
#include "session/VelnoteLogger.h"
#include "session/settings/UserSettings.h"

#include <utility>

namespace velnote {
namespace {
// The server module that honours a stream's wish for an echo-cancelling filter.
constexpr const char* kFilterModule = "module-filter-apply";
} // namespace

MicrophoneCapture::MicrophoneCapture(std::filesystem::path sessionDir, std::optional<std::string> deviceUID,
                                     std::int64_t startChunkIndex, CaptureDependencies dependencies)
    : services_(dependencies), deviceUID_(std::move(deviceUID)),
      processor_(
          CaptureChannel::microphone, services_.gains, services_.mutes,
          services_.chunkSequence(sessionDir, CaptureChannel::microphone, startChunkIndex, onChunkCompleted),
          [this](float level) { services_.publishLevel(CaptureChannel::microphone, level); }),
      client_(services_.clientOptions("microphone")) {
    processor_.setFeed([this](std::span<const float> samples, const platform::AudioFormat& format) {
        if (onAudioBuffer) {
            onAudioBuffer(samples, format);
        }
    });
}

MicrophoneCapture::~MicrophoneCapture() {
    stop();
    control_
        .submit([this] {
            coolDown_.cancel();
            retry_.cancel();
        })
        .get();
}

void MicrophoneCapture::start() {
    control_
        .submit([this] {
            wanted_ = true;
            startStream();
        })
        .get();
}

void MicrophoneCapture::stop() {
    control_
        .submit([this] {
            wanted_ = false;
            retry_.cancel();
            stopStream();
        })
        .get();
}

platform::AudioRecordRequest MicrophoneCapture::makeRequest() {
    platform::AudioRecordRequest request;
    request.streamName = "Microphone";
    if (deviceUID_) {
        if (const auto index = AvailableMicDevice::deviceIDForUID(client_, *deviceUID_)) {
            request.sourceName = *deviceUID_;
            VelnoteLogger::audio().info("[MicCapture] set input device uid={} deviceID={}", *deviceUID_,
                                        *index);
        } else {
            VelnoteLogger::audio().error("[MicCapture] device not found for uid={}, using default",
                                         *deviceUID_);
        }
    }
    const bool wanted = UserSettings(services_.settings).enableVoiceProcessing();
    bool enabled = false;
    if (wanted) {
        if (client_.hasModule(kFilterModule)) {
            request.properties.emplace_back("filter.want", "echo-cancel");
            enabled = true;
        } else {
            VelnoteLogger::audio().error("[MicCapture] failed to set voice processing to {}: {}", true,
                                         "the sound server has no echo-cancel filter (module-filter-apply)");
        }
    }
    if (enabled || !wanted) {
        VelnoteLogger::audio().info("[MicCapture] voiceProcessingEnabled={}", enabled);
    }
    voiceProcessingEnabled_ = enabled;
    return request;
}

void MicrophoneCapture::startStream() {
    try {
        client_.connect();
        const platform::AudioRecordRequest request = makeRequest();
        const std::uint64_t generation = ++generation_;
        platform::AudioRecordHandlers handlers;
        handlers.data = [this](std::vector<float>&& samples, const platform::AudioFormat& format) {
            writeQueue_.post([this, samples = std::move(samples), format]() mutable {
                processor_.process(std::move(samples), format);
            });
        };
        handlers.failed = [this, generation](const std::string& reason) {
            control_.post([this, generation, reason] { onStreamInterrupted(generation, reason, true); });
        };
        handlers.moved = [this, generation,
                          filtered = voiceProcessingEnabled_.load()](const std::string& source) {
            // The server's echo-cancel filter takes the stream over on a source of its own:
            // that is the requested processing, not a change of input.
            if (filtered && source.find("echo-cancel") != std::string::npos) {
                return;
            }
            control_.post(
                [this, generation, source] { onStreamInterrupted(generation, "moved to " + source, false); });
        };
        stream_ = client_.openRecordStream(request, std::move(handlers));
        if (!didLogStartFormats_) {
            didLogStartFormats_ = true;
            VelnoteLogger::audio().info(
                "[MicCapture] start source={} inputFormat={} Hz {} ch targetFormat=16000 Hz 1 ch",
                stream_->sourceName(), stream_->format().sampleRate, stream_->format().channels);
        }
    } catch (const platform::AudioServerError& e) {
        VelnoteLogger::audio().error("[MicCapture] start error: {}", e.what());
        throw;
    }
}

void MicrophoneCapture::stopStream() {
    stream_.reset();
    ++generation_;
    endedDuringCoolDown_ = false;
    writeQueue_.submit([this] { processor_.finish(); }).get();
}

// The stream was moved or ended by the server: the nearest thing here to the hardware
// configuration changing under a running input. A move during the cool-down is ignored (the
// stream still records); an end is only put off until the cool-down is over, since nothing
// would be recorded otherwise.
void MicrophoneCapture::onStreamInterrupted(std::uint64_t generation, const std::string& reason, bool ended) {
    if (generation != generation_ || !wanted_) {
        return;
    }
    if (isRestarting_) {
        endedDuringCoolDown_ = endedDuringCoolDown_ || ended;
        return;
    }
    isRestarting_ = true;
    VelnoteLogger::audio().info("[MicCapture] engine configuration changed, performing full restart ({})",
                                reason);
    restart();
    coolDown_ = services_.timers.once(services_.restartDelay, control_, [this] {
        isRestarting_ = false;
        if (std::exchange(endedDuringCoolDown_, false)) {
            onStreamInterrupted(generation_, "ended during the restart", true);
        }
    });
}

void MicrophoneCapture::restart() {
    stopStream();
    try {
        startStream();
    } catch (const platform::AudioServerError& e) {
        VelnoteLogger::audio().error("[MicCapture] restart failed: {}", e.what());
        // Without a server there is nothing to wait for but its return.
        if (!client_.isConnected()) {
            retry_ = services_.timers.once(services_.reconnectInterval, control_, [this] {
                if (wanted_) {
                    restart();
                }
            });
        }
    }
}

} // namespace velnote
