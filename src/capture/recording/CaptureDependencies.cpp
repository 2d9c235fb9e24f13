#include "capture/recording/CaptureDependencies.h"

#include "app/state/AppState.h"
#include "capture/controls/AudioMuteState.h"
#include "capture/controls/RecordingRuntimeSettings.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/concurrency/TimerScheduler.h"
#include "platform/settings/SettingsStore.h"

#include <optional>

namespace velnote {

CaptureServices::CaptureServices(const CaptureDependencies& d)
    : appState(d.appState ? *d.appState : AppState::shared()),
      mainDispatcher(d.mainDispatcher ? *d.mainDispatcher : platform::MainDispatcher::shared()),
      gains(d.gains ? *d.gains : RecordingRuntimeSettings::shared()),
      mutes(d.mutes ? *d.mutes : AudioMuteState::shared()),
      settings(d.settings ? *d.settings : platform::SettingsStore::standard()),
      timers(d.timers ? *d.timers : platform::TimerScheduler::shared()),
      completionExecutor(d.completionExecutor ? *d.completionExecutor : platform::ThreadPool::shared()),
      restartDelay(d.restartDelay), reconnectInterval(d.reconnectInterval), chunks(d.chunks),
      server(d.server) {}

std::unique_ptr<AudioChunkSequence>
CaptureServices::chunkSequence(const std::filesystem::path& sessionDir, CaptureChannel channel,
                               std::int64_t startChunkIndex, const ChunkCompletedHandler& onCompleted) const {
    return std::make_unique<AudioChunkSequence>(
        sessionDir, channel, startChunkIndex, chunks,
        [this](const std::string& message) { presentError(message); },
        [this, &onCompleted](const std::filesystem::path& chunk, std::int64_t number) {
            if (onCompleted) {
                completionExecutor.post([handler = onCompleted, chunk, number] { handler(chunk, number); });
            }
        });
}

platform::PulseClient::Options CaptureServices::clientOptions(std::string_view role) const {
    platform::PulseClient::Options options = server;
    options.clientName += ' ';
    options.clientName += role;
    return options;
}

void CaptureServices::publishLevel(CaptureChannel channel, float level) const {
    AppState* state = &appState;
    mainDispatcher.post([state, channel, level] {
        if (channel == CaptureChannel::microphone) {
            state->updateInputLevels(level, std::nullopt);
        } else {
            state->updateInputLevels(std::nullopt, level);
        }
    });
}

void CaptureServices::presentError(const std::string& message) const {
    AppState* state = &appState;
    mainDispatcher.post([state, message] { state->presentError(message, false); });
}

} // namespace velnote
