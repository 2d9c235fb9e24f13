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
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace velnote {

// Records one input (a source of the sound server) into the session's "audio" folder as
// "mic_NNNN.wav" chunks while a recording runs, feeding the converted audio to the live
// transcription and the meter to the application state (see CaptureBufferProcessor).
//
// The recording controller makes one per recording, sets the callbacks, calls start() and, at the
// end, stop(). start() may follow stop() again (the voice-processing switch); the chunk numbers go
// on. When the server moves the stream to another source or the stream fails (the input went
// away, the server restarted), the capture restarts itself: the open chunk is closed, the next
// one opened, and further such events are ignored for `restartDelay` after the restart. While the
// server is gone it tries again every `reconnectInterval` until it is back or stop() is called.
//
// Threads: start() and stop() block the caller (the main thread) while a serial control queue
// does the work; restarts run on that queue too. The sound server's thread only copies each
// delivery onto the file-write queue, which owns the chunks, the resampler and every callback.
class MicrophoneCapture {
  public:
    using AudioBufferHandler =
        std::function<void(std::span<const float> samples, const platform::AudioFormat& format)>;
    using ChunkCompletedHandler = CaptureServices::ChunkCompletedHandler;

    // `deviceUID`: the source name of the chosen microphone; none = the server's default input.
    // `startChunkIndex`: the lowest chunk number to use. Does no input or output.
    MicrophoneCapture(std::filesystem::path sessionDir, std::optional<std::string> deviceUID,
                      std::int64_t startChunkIndex, CaptureDependencies dependencies = {});
    // Stops.
    ~MicrophoneCapture();
    MicrophoneCapture(const MicrophoneCapture&) = delete;
    MicrophoneCapture& operator=(const MicrophoneCapture&) = delete;

    // Set before start(). Called on the file-write queue with every unmuted buffer after gain
    // (16 kHz mono); must return quickly.
    AudioBufferHandler onAudioBuffer;
    // Set before start(). Called on the completion executor for every closed chunk that is kept.
    ChunkCompletedHandler onChunkCompleted;

    // Connects, chooses the source (the chosen one when the server has it, else the default
    // input), asks for echo cancellation when "enableVoiceProcessing" is on, and starts the
    // stream. Throws platform::AudioServerError; the caller then calls stop().
    void start();
    // Ends the stream and finishes the last chunk (kept, deleted as silent, or left empty) before
    // it returns. Safe when start() failed or never ran.
    void stop();

    // Whether the running stream asked the server for echo cancellation and the server can do it.
    bool voiceProcessingEnabled() const { return voiceProcessingEnabled_; }

  private:
    // Only on control_:
    void startStream();
    void stopStream();
    void onStreamInterrupted(std::uint64_t generation, const std::string& reason, bool ended);
    void restart();
    platform::AudioRecordRequest makeRequest();

    CaptureServices services_;
    std::optional<std::string> deviceUID_;
    std::atomic<bool> voiceProcessingEnabled_ = false;

    // Only on writeQueue_ (after construction): the chunks, the resampler, the meter.
    CaptureBufferProcessor processor_;

    // Only on control_:
    platform::PulseClient client_;
    std::unique_ptr<platform::AudioRecordStream> stream_;
    std::uint64_t generation_ = 0; // of the current stream; events of older ones are ignored
    bool wanted_ = false;          // between start() and stop()
    bool isRestarting_ = false;    // a restart ran less than restartDelay ago
    bool endedDuringCoolDown_ = false;
    bool didLogStartFormats_ = false;
    platform::Timer coolDown_;
    platform::Timer retry_;

    // Last: they drain before the members above go.
    platform::SerialExecutor writeQueue_;
    platform::SerialExecutor control_;
};

} // namespace velnote
