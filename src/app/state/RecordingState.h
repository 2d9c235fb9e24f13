#pragma once

#include <string>

namespace velnote {

// Where the recording is: idle → starting → recording → stopping → idle, and `error` (with its
// message) while the alert of a fatal error is open.
class RecordingState {
  public:
    enum class Phase { idle, starting, recording, stopping, error };

    RecordingState() = default; // idle

    static RecordingState idle() { return RecordingState(Phase::idle, {}); }
    static RecordingState starting() { return RecordingState(Phase::starting, {}); }
    static RecordingState recording() { return RecordingState(Phase::recording, {}); }
    static RecordingState stopping() { return RecordingState(Phase::stopping, {}); }
    static RecordingState error(std::string message) {
        return RecordingState(Phase::error, std::move(message));
    }

    Phase phase() const { return phase_; }
    // The message of an `error`; empty in every other phase.
    const std::string& errorMessage() const { return message_; }

    // The title of the tray menu's record item, in the interface language.
    std::string menuTitle() const;

    // Same phase and, for `error`, the same message.
    bool operator==(const RecordingState&) const = default;

  private:
    RecordingState(Phase phase, std::string message) : phase_(phase), message_(std::move(message)) {}

    Phase phase_ = Phase::idle;
    std::string message_;
};

} // namespace velnote
