#include "capture/recording/SystemAudioCapture.h"

#include "platform/audio/AudioServerError.h"
#include "platform/concurrency/TimerScheduler.h"
#include "session/VelnoteLogger.h"

namespace velnote {
namespace {
constexpr CaptureAlertText kRestartFailed{
    "システム音声の再起動に失敗しました。システム設定で「画面収録」または「オーディオ録音」のアクセス許可が与"
    "えられているか確認してください。",
    "Failed to restart system audio capture. Please check screen recording or audio recording permissions in "
    "System "
    "Settings."};
} // namespace

SystemAudioCapture::SystemAudioCapture(std::filesystem::path sessionDir, CaptureDependencies dependencies)
    : services_(dependencies),
      processor_(CaptureChannel::systemAudio, services_.gains, services_.mutes,
                 services_.chunkSequence(sessionDir, CaptureChannel::systemAudio, 0, onChunkCompleted),
                 [this](float level) { services_.publishLevel(CaptureChannel::systemAudio, level); }),
      client_(services_.clientOptions("system audio")) {
    processor_.setFeed([this](std::span<const float> samples, const platform::AudioFormat& format) {
        if (onAudioBuffer) {
            onAudioBuffer(samples, format);
        }
    });
}

SystemAudioCapture::~SystemAudioCapture() {
    stop();
}

void SystemAudioCapture::start() {
    isActive_ = true;
    control_
        .submit([this] {
            client_.setEventHandler([this](platform::AudioServerEvent event) {
                if (event == platform::AudioServerEvent::server) {
                    control_.post([this] { onServerEvent(); });
                }
            });
            client_.setDisconnectHandler([this] { control_.post([this] { onDisconnected(); }); });
            try {
                startCapture();
            } catch (const platform::AudioServerError&) {
                // The recording controller shows this failure; retries stay quiet until one works.
                restartFailureAlerted_ = true;
                if (!client_.isConnected()) {
                    scheduleReconnect();
                }
                throw;
            }
        })
        .get();
}

void SystemAudioCapture::stop() {
    isActive_ = false;
    control_
        .submit([this] {
            restartTimer_.cancel();
            reconnectTimer_.cancel();
            restartPending_ = false;
            client_.setEventHandler(nullptr);
            client_.setDisconnectHandler(nullptr);
            stopStream();
            releaseWaiters();
        })
        .get();
    writeQueue_.submit([this] { processor_.finish(); }).get();
}

void SystemAudioCapture::manualRestart() {
    if (!isActive_) {
        return;
    }
    VelnoteLogger::audio().info("[SysCapture] manual restart requested");
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    control_.post([this, done] {
        restartWaiters_.push_back(std::move(*done));
        if (isActive_) {
            requestRestart();
        } else {
            releaseWaiters();
        }
    });
    finished.wait();
}

std::string SystemAudioCapture::recordedOutput() {
    return control_.submit([this] { return recordedSink_; }).get();
}

void SystemAudioCapture::startCapture() {
    try {
        if (!client_.isConnected()) {
            subscribed_ = false;
            client_.connect();
        }
        if (!subscribed_) {
            client_.subscribe({.server = true});
            subscribed_ = true;
        }
        const std::string sinkName = client_.serverInfo().defaultSinkName;
        const auto sink = sinkName.empty() ? std::nullopt : client_.sink(sinkName);
        // Nothing plays anywhere: the stream starts when an output appears.
        if (!sink || sink->monitorSourceName.empty() || !isActive_) {
            return;
        }
        const std::uint64_t generation = ++generation_;
        platform::AudioRecordHandlers handlers;
        handlers.data = [this](std::vector<float>&& samples, const platform::AudioFormat& format) {
            writeQueue_.post([this, samples = std::move(samples), format]() mutable {
                processor_.process(std::move(samples), format);
            });
        };
        handlers.failed = [this, generation](const std::string& reason) {
            control_.post([this, generation, reason] { onStreamEnded(generation, reason); });
        };
        // The monitored output went away and the server put the stream on another source.
        handlers.moved = [this, generation](const std::string&) {
            control_.post([this, generation] {
                if (generation == generation_ && isActive_) {
                    VelnoteLogger::audio().info(
                        "[SysCapture] default output device changed, restarting stream");
                    requestRestart();
                }
            });
        };
        platform::AudioRecordRequest request;
        request.sourceName = sink->monitorSourceName;
        request.streamName = "System audio";
        stream_ = client_.openRecordStream(request, std::move(handlers));
        recordedSink_ = sinkName;
    } catch (const platform::AudioServerError& e) {
        VelnoteLogger::audio().error("SystemAudioCapture start error: {}", e.what());
        throw;
    }
}

void SystemAudioCapture::stopStream() {
    stream_.reset();
    recordedSink_.clear();
    ++generation_;
}

void SystemAudioCapture::requestRestart() {
    if (restartPending_) {
        return; // joins the restart already under way
    }
    restartPending_ = true;
    reconnectTimer_.cancel();
    stopStream();
    restartTimer_ = services_.timers.once(services_.restartDelay, control_, [this] { finishRestart(); });
}

void SystemAudioCapture::finishRestart() {
    restartPending_ = false;
    if (isActive_) {
        try {
            startCapture();
            if (stream_) {
                VelnoteLogger::audio().info("[SysCapture] stream restarted after device change");
                restartFailureAlerted_ = false;
            }
        } catch (const platform::AudioServerError& e) {
            VelnoteLogger::audio().error("[SysCapture] restart capture failed: {}", e.what());
            if (!restartFailureAlerted_) {
                restartFailureAlerted_ = true;
                services_.presentError(kRestartFailed.localized());
            }
            if (!client_.isConnected()) {
                scheduleReconnect();
            }
        }
    }
    releaseWaiters();
}

void SystemAudioCapture::onServerEvent() {
    if (!isActive_ || restartPending_) {
        return;
    }
    std::string sinkName;
    try {
        sinkName = client_.serverInfo().defaultSinkName;
    } catch (const platform::AudioServerError& e) {
        VelnoteLogger::audio().error("[SysCapture] cannot read the default output: {}", e.what());
        return;
    }
    if (sinkName == recordedSink_) {
        return;
    }
    VelnoteLogger::audio().info("[SysCapture] default output device changed, restarting stream");
    requestRestart();
}

void SystemAudioCapture::onStreamEnded(std::uint64_t generation, const std::string& reason) {
    if (generation != generation_) {
        return;
    }
    VelnoteLogger::audio().error("[SysCapture] stream stopped with error: {}", reason);
    if (isActive_) {
        requestRestart();
    }
}

// A running stream reports its own end; without one, only the lost connection tells.
void SystemAudioCapture::onDisconnected() {
    subscribed_ = false;
    if (isActive_ && !stream_ && !restartPending_ && !reconnectTimer_.isActive()) {
        scheduleReconnect();
    }
}

void SystemAudioCapture::scheduleReconnect() {
    reconnectTimer_ = services_.timers.once(services_.reconnectInterval, control_, [this] {
        if (isActive_ && !restartPending_) {
            finishRestart();
        }
    });
}

void SystemAudioCapture::releaseWaiters() {
    for (std::promise<void>& waiter : restartWaiters_) {
        waiter.set_value();
    }
    restartWaiters_.clear();
}

} // namespace velnote
