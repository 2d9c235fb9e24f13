#pragma once

#include "capture/recording/CaptureBufferProcessor.h"
#include "capture/recording/CaptureDependencies.h"
#include "platform/audio/AudioFormat.h"
#include "platform/audio/PulseClient.h"
#include "platform/concurrency/SerialExecutor.h"
#include "platform/concurrency/Timer.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace velnote {

// Records what the machine plays — the monitor of the sound server's default output — into the
// session's "audio" folder as "sys_NNNN.wav" chunks, with the same conversion, gain, mute, meter
// and live-transcription feed as the microphone (see CaptureBufferProcessor). Linux has no
// capture of "every application's audio" beyond the default output; that output is what the
// user hears.
//
// When the default output changes, the stream ends with an error, or the user asks for it, the
// capture stops the stream, waits `restartDelay` and starts a new one on the then default output,
// leaving the open chunk as it is: its audio just misses the pause. Restarts that come close
// together make one. A failed restart alerts the user once until a restart succeeds again; while
// the server is gone the capture tries again every `reconnectInterval`, and begins again when it
// is back.
//
// Threads: start(), stop() and manualRestart() block the caller while a serial control queue does
// the work; server events and restarts run on that queue. The sound server's thread only copies
// each delivery onto the file-write queue, which owns the chunks, the resampler and every
// callback. A capture is started once; the next recording makes a new one.
class SystemAudioCapture {
  public:
    using AudioBufferHandler =
        std::function<void(std::span<const float> samples, const platform::AudioFormat& format)>;
    using ChunkCompletedHandler = CaptureServices::ChunkCompletedHandler;

    // Does no input or output.
    explicit SystemAudioCapture(std::filesystem::path sessionDir, CaptureDependencies dependencies = {});
    // Stops.
    ~SystemAudioCapture();
    SystemAudioCapture(const SystemAudioCapture&) = delete;
    SystemAudioCapture& operator=(const SystemAudioCapture&) = delete;

    // Set before start(). Called on the file-write queue with every unmuted buffer after gain
    // (16 kHz mono); must return quickly.
    AudioBufferHandler onAudioBuffer;
    // Set before start(). Called on the completion executor for every closed chunk that is kept.
    ChunkCompletedHandler onChunkCompleted;

    // Becomes active, watches the default output and starts the stream. Throws
    // platform::AudioServerError; the capture then stays active without a stream and starts one
    // when the default output changes, the server comes back or a manual restart succeeds.
    void start();
    // Ends the stream and finishes the last chunk before it returns.
    void stop();
    // Restarts the stream when active; returns when the restart has succeeded, failed or been
    // given up by stop().
    void manualRestart();

    // The sink whose monitor the running stream records; empty without a stream. For tests.
    std::string recordedOutput();

  private:
    // Only on control_:
    void startCapture();
    void stopStream();
    void requestRestart();
    void finishRestart();
    void onServerEvent();
    void onStreamEnded(std::uint64_t generation, const std::string& reason);
    void onDisconnected();
    void scheduleReconnect();
    void releaseWaiters();

    CaptureServices services_;
    std::atomic<bool> isActive_ = false;

    // Only on writeQueue_ (after construction):
    CaptureBufferProcessor processor_;

    // Only on control_:
    platform::PulseClient client_;
    bool subscribed_ = false; // the current connection reports server events
    std::unique_ptr<platform::AudioRecordStream> stream_;
    std::string recordedSink_; // whose monitor stream_ records
    std::uint64_t generation_ = 0;
    bool restartPending_ = false;
    bool restartFailureAlerted_ = false; // since the last stream that started
    std::vector<std::promise<void>> restartWaiters_;
    platform::Timer restartTimer_;
    platform::Timer reconnectTimer_;

    // Last: they drain before the members above go.
    platform::SerialExecutor writeQueue_;
    platform::SerialExecutor control_;
};

} // namespace velnote
