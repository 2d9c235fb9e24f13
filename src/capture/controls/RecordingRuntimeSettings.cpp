#include "capture/controls/RecordingRuntimeSettings.h"

namespace velnote {

RecordingRuntimeSettings& RecordingRuntimeSettings::shared() {
    static auto* instance = new RecordingRuntimeSettings();
    return *instance;
}

double RecordingRuntimeSettings::micInputGain() const {
    std::lock_guard lock(mutex_);
    return micInputGain_;
}

double RecordingRuntimeSettings::sysInputGain() const {
    std::lock_guard lock(mutex_);
    return sysInputGain_;
}

void RecordingRuntimeSettings::setMicInputGain(double gain) {
    std::lock_guard lock(mutex_);
    micInputGain_ = gain;
}

void RecordingRuntimeSettings::setSysInputGain(double gain) {
    std::lock_guard lock(mutex_);
    sysInputGain_ = gain;
}

void RecordingRuntimeSettings::setGains(double micGain, double sysGain) {
    std::lock_guard lock(mutex_);
    micInputGain_ = micGain;
    sysInputGain_ = sysGain;
}

} // namespace velnote
