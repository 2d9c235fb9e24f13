#include "capture/usage/MicrophoneUsageMonitor.h"

#include "platform/audio/AudioServerError.h"
#include "platform/concurrency/SystemClock.h"
#include "session/VelnoteLogger.h"

#include <chrono>
#include <unistd.h>

namespace velnote {
namespace {

constexpr auto kDeviceSwitchDebounce = std::chrono::milliseconds(500);
// Mixer applications open a stream on every source to draw its level; that is no use of the
// microphone.
constexpr const char* kPeakMeterResampler = "peaks";

const platform::Logger& audioLog() {
    return VelnoteLogger::audio();
}

// Runs a server request, turning its failure into the monitor's error.
template <class Request> auto ask(Request request) {
    try {
        return request();
    } catch (const platform::AudioServerError& e) {
        throw MicrophoneUsageMonitor::MonitorError::audioObjectError(e.code(), e.what());
    }
}

} // namespace

MicrophoneUsageMonitor::MonitorError
MicrophoneUsageMonitor::MonitorError::propertyUnavailable(const std::string& text) {
    return MonitorError(Kind::propertyUnavailable, 0, text);
}

MicrophoneUsageMonitor::MonitorError
MicrophoneUsageMonitor::MonitorError::audioObjectError(int status, const std::string& reason) {
    return MonitorError(Kind::audioObjectError, status, reason);
}

MicrophoneUsageMonitor::MicrophoneUsageMonitor(Dependencies dependencies)
    : clock_(dependencies.clock ? *dependencies.clock : platform::SystemClock::shared()),
      client_(std::make_unique<platform::PulseClient>([&] {
          platform::PulseClient::Options options = dependencies.server;
          options.clientName += " microphone monitor";
          return options;
      }())) {
    client_->setEventHandler([this](platform::AudioServerEvent event) {
        callbackQueue_.post([this, event] { handleEvent(event); });
    });
    client_->setDisconnectHandler([] { audioLog().error("microphone usage monitor lost the sound server"); });
}

MicrophoneUsageMonitor::MicrophoneUsageMonitor() : MicrophoneUsageMonitor(Dependencies{}) {}

MicrophoneUsageMonitor::~MicrophoneUsageMonitor() {
    callbackQueue_.submit([this] { stopBody(); }).get();
    // No more events after this; those already queued find the listeners gone.
    client_.reset();
}

void MicrophoneUsageMonitor::startMonitoring() {
    callbackQueue_.submit([this] { startBody(); }).get();
}

void MicrophoneUsageMonitor::stopMonitoring() {
    callbackQueue_.submit([this] { stopBody(); }).get();
}

bool MicrophoneUsageMonitor::currentInputDeviceIsRunning() {
    return callbackQueue_.submit([this] { return currentDeviceIsRunning_; }).get();
}

void MicrophoneUsageMonitor::startBody() {
    if (isMonitoring_) {
        return;
    }
    audioLog().info("microphone usage monitor starting");
    try {
        registerListeners();
        switchInputDevice(queryDefaultInputDevice());
    } catch (const MonitorError&) {
        // Nothing fires before a start has succeeded.
        defaultDeviceListener_ = false;
        runningStateListeners_ = false;
        currentDevice_.clear();
        throw;
    }
    isMonitoring_ = true;
    audioLog().info("microphone usage monitor started currentDeviceID={} running={}", currentDevice_,
                    currentDeviceIsRunning_);
}

void MicrophoneUsageMonitor::stopBody() {
    if (!isMonitoring_) {
        return;
    }
    audioLog().info("microphone usage monitor stopping");
    runningStateListeners_ = false;
    defaultDeviceListener_ = false;
    currentDevice_.clear();
    isMonitoring_ = false;
    audioLog().info("microphone usage monitor stopped");
}

// One subscription carries every event; the two flags decide which of them are listened to.
void MicrophoneUsageMonitor::registerListeners() {
    ask([&] {
        client_->connect();
        client_->subscribe({.server = true, .sources = true, .sourceOutputs = true});
    });
    defaultDeviceListener_ = true;
    audioLog().debug("microphone monitor registered default input device listener");
}

std::string MicrophoneUsageMonitor::queryDefaultInputDevice() {
    const std::string device = ask([&] { return client_->serverInfo().defaultSourceName; });
    if (device.empty()) {
        throw MonitorError::propertyUnavailable("default input device not available");
    }
    return device;
}

MicrophoneUsageMonitor::RunningStates
MicrophoneUsageMonitor::queryDeviceRunningStates(const std::string& device) {
    const auto source = ask([&] { return client_->source(device); });
    if (!source) {
        throw MonitorError::audioObjectError(platform::AudioServerError::kNoSuchEntity,
                                             "no source named " + device);
    }
    const auto outputs = ask([&] { return client_->sourceOutputs(); });
    const std::int64_t ownProcess = ::getpid();
    bool usedByOthers = false;
    for (const platform::AudioSourceOutputInfo& output : outputs) {
        if (output.sourceIndex == source->index && !output.corked && output.processId != ownProcess &&
            output.resampleMethod != kPeakMeterResampler) {
            usedByOthers = true;
            break;
        }
    }
    const RunningStates states{.runningSomewhere = usedByOthers,
                               .running =
                                   usedByOthers && source->state == platform::AudioSourceState::running};
    audioLog().debug("queryDeviceRunningStates deviceID={} runningSomewhere={} running={}", device,
                     states.runningSomewhere, states.running);
    return states;
}

void MicrophoneUsageMonitor::switchInputDevice(const std::string& device) {
    runningStateListeners_ = false;
    currentDevice_ = device;
    if (device.empty()) {
        currentDeviceIsRunning_ = false;
        previousRunningSomewhere_.reset();
        previousRunning_.reset();
        return;
    }
    const RunningStates states = queryDeviceRunningStates(device);
    currentDeviceIsRunning_ = states.runningSomewhere || states.running;
    previousRunningSomewhere_ = states.runningSomewhere;
    previousRunning_ = states.running;
    runningStateListeners_ = true;
    audioLog().debug("microphone monitor registered running-state listeners deviceID={}", device);
}

void MicrophoneUsageMonitor::handleEvent(platform::AudioServerEvent event) {
    if (event == platform::AudioServerEvent::server) {
        if (!defaultDeviceListener_) {
            return;
        }
        try {
            handleDefaultInputChange();
        } catch (const MonitorError& e) {
            audioLog().error("MicrophoneUsageMonitor failed to handle default input device change: {}",
                             e.what());
        }
        return;
    }
    if (!runningStateListeners_) {
        return;
    }
    try {
        handleRunningStateChange();
    } catch (const MonitorError& e) {
        audioLog().error("MicrophoneUsageMonitor failed to handle running state change: {}", e.what());
    }
}

void MicrophoneUsageMonitor::handleDefaultInputChange() {
    const std::string device = queryDefaultInputDevice();
    if (device == currentDevice_) {
        return; // the server reports many changes besides the default input
    }
    audioLog().info("default input device changed from {} to {}", currentDevice_, device);
    deviceChangedAt_ = clock_.now();
    switchInputDevice(device);
    if (onDefaultInputDeviceChanged) {
        onDefaultInputDeviceChanged(device);
    }
}

void MicrophoneUsageMonitor::handleRunningStateChange() {
    if (currentDevice_.empty()) {
        return;
    }
    const RunningStates states = queryDeviceRunningStates(currentDevice_);
    const bool rs = states.runningSomewhere;
    const bool r = states.running;
    const bool effective = rs || r;
    const bool recent = recentDeviceChange();
    audioLog().debug("device={} raw runningSomewhere={} running={} effective={} recentDeviceChange={}",
                     currentDevice_, rs, r, effective, recent);

    const auto transition = [&](const std::optional<bool>& previous, bool now, const char* by) {
        if (!previous || *previous == now) {
            return false;
        }
        if (now) {
            audioLog().info("mic usage started event fired by {} transition for deviceID={}", by,
                            currentDevice_);
            fire(onMicUsageStarted);
        } else if (recent) {
            audioLog().info(
                "mic usage stopped suppressed (device switch debounce) by {} transition for deviceID={}", by,
                currentDevice_);
        } else {
            audioLog().info("mic usage stopped event fired by {} transition for deviceID={}", by,
                            currentDevice_);
            fire(onMicUsageStopped);
        }
        return true;
    };

    if (!transition(previousRunningSomewhere_, rs, "runningSomewhere") &&
        !transition(previousRunning_, r, "running") && effective != currentDeviceIsRunning_) {
        currentDeviceIsRunning_ = effective;
        if (effective) {
            audioLog().info("mic usage started event fired for deviceID={}", currentDevice_);
            fire(onMicUsageStarted);
        } else if (recent) {
            audioLog().info("mic usage stopped suppressed (device switch debounce) for deviceID={}",
                            currentDevice_);
        } else {
            audioLog().info("mic usage stopped event fired for deviceID={}", currentDevice_);
            fire(onMicUsageStopped);
        }
    }
    previousRunningSomewhere_ = rs;
    previousRunning_ = r;
}

bool MicrophoneUsageMonitor::recentDeviceChange() const {
    return deviceChangedAt_ && clock_.now() - *deviceChangedAt_ < kDeviceSwitchDebounce;
}

void MicrophoneUsageMonitor::fire(const std::function<void()>& callback) {
    if (callback) {
        callback();
    }
}

} // namespace velnote
