#pragma once

#include <optional>
#include <string>

namespace velnote::platform {

// The active profile of power-profiles-daemon ("power-saver", "balanced" or "performance"), read
// over D-Bus. Current daemons own "org.freedesktop.UPower.PowerProfiles", older ones
// "net.hadess.PowerProfiles"; both are asked, in that order. Each read opens its own connection,
// so it may be called from any thread and follows a daemon that restarts.
class PowerProfiles {
  public:
    // `busAddress`: a D-Bus address such as "unix:path=/run/user/1000/bus"; empty = the system
    // bus, where the daemon runs. Tests pass a private bus.
    explicit PowerProfiles(std::string busAddress = {});

    // std::nullopt when no daemon answers (none installed, no bus). Never throws; waits at most
    // about two seconds for an answer.
    std::optional<std::string> activeProfile() const;

    // True when `profile` is the power-saving one.
    static bool isPowerSaver(const std::optional<std::string>& profile);

  private:
    std::string busAddress_;
};

} // namespace velnote::platform
