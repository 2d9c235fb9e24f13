#include "capture/controls/AudioMuteState.h"

namespace velnote {

AudioMuteState& AudioMuteState::shared() {
    static auto* instance = new AudioMuteState();
    return *instance;
}

bool AudioMuteState::micMuted() const {
    std::lock_guard lock(mutex_);
    return state_.micMuted;
}

bool AudioMuteState::sysMuted() const {
    std::lock_guard lock(mutex_);
    return state_.sysMuted;
}

AudioMuteState::State AudioMuteState::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void AudioMuteState::setMicMuted(bool muted) {
    std::lock_guard lock(mutex_);
    state_.micMuted = muted;
}

void AudioMuteState::setSysMuted(bool muted) {
    std::lock_guard lock(mutex_);
    state_.sysMuted = muted;
}

void AudioMuteState::clearAll() {
    std::lock_guard lock(mutex_);
    state_ = State{};
}

} // namespace velnote
