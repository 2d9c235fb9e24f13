#pragma once

#include "platform/audio/PulseClient.h"
#include "platform/concurrency/Clock.h"
#include "platform/concurrency/SerialExecutor.h"

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace velnote {

// Tells when another application starts or stops using the default input (source) of the sound
// server: a recording stream of another process on that source that is not paused. The
// application's own streams never count, nor the level meters of mixer applications.
//
// From the server's events it derives one in-use state and fires onMicUsageStarted and
// onMicUsageStopped. A switch of the default input re-bases the state without firing; a stop
// within 0.5 s of such a switch is suppressed (the device-switch debounce).
//
// Threads: everything runs on one serial queue: the server's events are handed there, the
// callbacks are called there (a receiver that needs the main thread hops there itself), and
// startMonitoring(), stopMonitoring() and currentInputDeviceIsRunning() run there while the
// caller waits. They must not be called from a callback.
class MicrophoneUsageMonitor {
  public:
    class MonitorError : public std::runtime_error {
      public:
        enum class Kind {
            propertyUnavailable, // no default input, or an answer that makes no sense
            audioObjectError,    // the sound server refused or failed a request
        };
        static MonitorError propertyUnavailable(const std::string& text);
        static MonitorError audioObjectError(int status, const std::string& reason);

        Kind kind() const { return kind_; }
        int status() const { return status_; } // the server's error number; 0 for propertyUnavailable

      private:
        MonitorError(Kind kind, int status, const std::string& message)
            : std::runtime_error(message), kind_(kind), status_(status) {}
        Kind kind_;
        int status_;
    };

    struct Dependencies {
        const platform::Clock* clock = nullptr; // the debounce; nullptr = the system clock
        platform::PulseClient::Options server;
    };

    explicit MicrophoneUsageMonitor(Dependencies dependencies);
    MicrophoneUsageMonitor();
    // Stops monitoring first.
    ~MicrophoneUsageMonitor();
    MicrophoneUsageMonitor(const MicrophoneUsageMonitor&) = delete;
    MicrophoneUsageMonitor& operator=(const MicrophoneUsageMonitor&) = delete;

    // Set before startMonitoring(); called on the monitor's queue.
    std::function<void()> onMicUsageStarted;
    std::function<void()> onMicUsageStopped;
    std::function<void(const std::string& deviceName)> onDefaultInputDeviceChanged;

    // Connects, watches the default input and takes its current state as the starting point
    // (firing nothing). Does nothing when already monitoring. Throws MonitorError; the monitor
    // then stays stopped.
    void startMonitoring();
    // Does nothing when not monitoring. No callback fires afterwards.
    void stopMonitoring();
    // The derived in-use state: the last known "used somewhere" or "running" value.
    bool currentInputDeviceIsRunning();

  private:
    struct RunningStates {
        bool runningSomewhere; // another process records from the device
        bool running;          // ... and the device is running
    };

    // Only on callbackQueue_:
    void startBody();
    void stopBody();
    void registerListeners();
    std::string queryDefaultInputDevice();
    RunningStates queryDeviceRunningStates(const std::string& device);
    void switchInputDevice(const std::string& device);
    void handleEvent(platform::AudioServerEvent event);
    void handleDefaultInputChange();
    void handleRunningStateChange();
    bool recentDeviceChange() const;
    void fire(const std::function<void()>& callback);

    const platform::Clock& clock_;
    std::unique_ptr<platform::PulseClient> client_;

    // Only on callbackQueue_:
    std::string currentDevice_; // the default input being watched; empty while not monitoring
    bool currentDeviceIsRunning_ = false;
    std::optional<bool> previousRunningSomewhere_;
    std::optional<bool> previousRunning_;
    std::optional<platform::Clock::SteadyTime> deviceChangedAt_; // none = the distant past
    bool defaultDeviceListener_ = false;                         // server events are handled
    bool runningStateListeners_ = false; // stream and source events of currentDevice_ are handled
    bool isMonitoring_ = false;

    // Last: it drains before the members above go.
    platform::SerialExecutor callbackQueue_;
};

} // namespace velnote
