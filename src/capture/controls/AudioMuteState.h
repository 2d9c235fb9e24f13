#pragma once

#include "app/state/SharedMuteFlags.h"

#include <mutex>

namespace velnote {

// The two mute switches, carried from the main thread (the recording window, recording start and
// stop) to the audio threads. A muted side writes silence into its chunks, reads 0 on its meter
// and feeds nothing to the live transcription. Thread-safe; each access is one short critical
// section.
class AudioMuteState final : public SharedMuteFlags {
  public:
    struct State {
        bool micMuted = false;
        bool sysMuted = false;
    };

    // The process's instance, created on first use and never destroyed.
    static AudioMuteState& shared();

    bool micMuted() const;
    bool sysMuted() const;
    State state() const;

    void setMicMuted(bool muted) override;
    void setSysMuted(bool muted) override;
    // Both off in one critical section: a reader never sees one cleared and the other not.
    void clearAll() override;

  private:
    mutable std::mutex mutex_;
    State state_;
};

} // namespace velnote
