#pragma once

#include <filesystem>
#include <functional>
#include <optional>

namespace velnote {

// Starting and stopping recordings, as the tray menu and microphone auto-detection see the
// recording controller. Both operations are called on the main thread, return at once and call
// their completion (when not empty) on the main thread once they are over.
class RecordingController {
  public:
    // The folder of the recording this start began; none when it began none (refused or failed).
    using StartCompletion = std::function<void(std::optional<std::filesystem::path> startedSession)>;
    using Completion = std::function<void()>;

    virtual ~RecordingController() = default;
    virtual void startRecording(StartCompletion done) = 0;
    virtual void stopRecording(Completion done) = 0;
};

} // namespace velnote
