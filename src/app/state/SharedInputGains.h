#pragma once

namespace velnote {

// The copy of the two input gains that the audio threads read, behind its own lock. The capture
// library implements it; the application state writes it from the main thread when a gain slider
// moves.
class SharedInputGains {
  public:
    virtual ~SharedInputGains() = default;
    virtual void setMicInputGain(double gain) = 0;
    virtual void setSysInputGain(double gain) = 0;
};

} // namespace velnote
