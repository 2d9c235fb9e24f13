#pragma once

#include "app/state/SharedInputGains.h"

#include <mutex>

namespace velnote {

// The two live input gains, carried from the main thread (the gain sliders, recording start and
// stop) to the audio threads, which read them for every buffer. Values are stored exactly as
// written: the writers clamp where they clamp at all. Thread-safe; each access is one short
// critical section.
class RecordingRuntimeSettings final : public SharedInputGains {
  public:
    // The process's instance, created on first use and never destroyed.
    static RecordingRuntimeSettings& shared();

    // Linear gain factors; 1.0 until first written.
    double micInputGain() const;
    double sysInputGain() const;
    void setMicInputGain(double gain) override;
    void setSysInputGain(double gain) override;
    // Both in one critical section.
    void setGains(double micGain, double sysGain);

  private:
    mutable std::mutex mutex_;
    double micInputGain_ = 1.0;
    double sysInputGain_ = 1.0;
};

} // namespace velnote
