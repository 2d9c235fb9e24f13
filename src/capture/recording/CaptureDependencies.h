#pragma once

#include "capture/recording/AudioChunkSequence.h"
#include "capture/recording/CaptureChannel.h"
#include "platform/audio/PulseClient.h"
#include "platform/concurrency/Clock.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace velnote {

class AppState;
class AudioMuteState;
class RecordingRuntimeSettings;
namespace platform {
class Executor;
class MainDispatcher;
class SettingsStore;
class TimerScheduler;
} // namespace platform

// What a capture reads and where it sends its results; nullptr means the process-wide one.
struct CaptureDependencies {
    AppState* appState = nullptr;                       // meter levels and alerts
    platform::MainDispatcher* mainDispatcher = nullptr; // the thread of `appState`
    RecordingRuntimeSettings* gains = nullptr;
    AudioMuteState* mutes = nullptr;
    platform::SettingsStore* settings = nullptr;      // "enableVoiceProcessing"
    platform::TimerScheduler* timers = nullptr;       // restart pauses and reconnection attempts
    platform::Executor* completionExecutor = nullptr; // runs onChunkCompleted; the shared pool
    platform::Clock::Duration restartDelay = std::chrono::milliseconds(500);
    platform::Clock::Duration reconnectInterval = std::chrono::seconds(1); // while the server is gone
    AudioChunkSequence::Options chunks;
    platform::PulseClient::Options server;
};

// The dependencies with the process-wide defaults filled in, and the hops every capture makes.
class CaptureServices {
  public:
    using ChunkCompletedHandler =
        std::function<void(const std::filesystem::path& chunk, std::int64_t number)>;

    explicit CaptureServices(const CaptureDependencies& dependencies);

    // The chunk files of one channel. `onCompleted` is read when each chunk closes (so it may be
    // set after construction) and runs on the completion executor; write errors are presented.
    std::unique_ptr<AudioChunkSequence> chunkSequence(const std::filesystem::path& sessionDir,
                                                      CaptureChannel channel, std::int64_t startChunkIndex,
                                                      const ChunkCompletedHandler& onCompleted) const;
    // The sound-server options, the client named after the capture's `role`.
    platform::PulseClient::Options clientOptions(std::string_view role) const;

    // Posted to the main thread; the caller does not wait.
    void publishLevel(CaptureChannel channel, float level) const;
    void presentError(const std::string& message) const;

    AppState& appState;
    platform::MainDispatcher& mainDispatcher;
    RecordingRuntimeSettings& gains;
    AudioMuteState& mutes;
    platform::SettingsStore& settings;
    platform::TimerScheduler& timers;
    platform::Executor& completionExecutor;
    platform::Clock::Duration restartDelay;
    platform::Clock::Duration reconnectInterval;
    AudioChunkSequence::Options chunks;
    platform::PulseClient::Options server;
};

} // namespace velnote
