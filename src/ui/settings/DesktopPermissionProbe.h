#pragma once

#include "platform/concurrency/Executor.h"
#include "ui/settings/PermissionStates.h"

namespace velnote {

// The permission states of this desktop session (see PermissionStates.h for what each means
// here). The display is judged from the Qt platform the application runs on; the sound server
// and the notification service are asked on `worker`, their answers posted to `main`.
class DesktopPermissionProbe final : public PermissionProbe {
  public:
    DesktopPermissionProbe(platform::Executor& worker, platform::Executor& main);

    PermissionFlags readImmediate() override;
    void readSlow(std::function<void(bool microphone, bool notifications)> completion) override;

  private:
    platform::Executor& worker_;
    platform::Executor& main_;
};

// Starts a desktop settings command with QProcess, detached.
bool launchDetached(const std::string& program, const std::vector<std::string>& arguments);

} // namespace velnote
