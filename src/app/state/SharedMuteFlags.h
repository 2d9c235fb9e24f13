#pragma once

namespace velnote {

// The copy of the mute flags that the audio threads read, behind its own lock. The capture
// library implements it; the application state writes it from the main thread.
class SharedMuteFlags {
  public:
    virtual ~SharedMuteFlags() = default;
    virtual void setMicMuted(bool muted) = 0;
    virtual void setSysMuted(bool muted) = 0;
    // Both off at once; an implementation behind one lock clears them in one critical section.
    virtual void clearAll() {
        setMicMuted(false);
        setSysMuted(false);
    }
};

} // namespace velnote
