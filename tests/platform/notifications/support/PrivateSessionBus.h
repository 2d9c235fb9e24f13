#pragma once

#include "support/TempDir.h"

#include <csignal>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/types.h>

namespace velnote::testing {

// A message bus of the test's own, set as DBUS_SESSION_BUS_ADDRESS for its lifetime, so tests
// that own well-known names (a fake notification service) can run in parallel.
class PrivateSessionBus {
  public:
    PrivateSessionBus() {
        const auto address = "unix:path=" + (dir_ / "bus").string();
        const auto command = "dbus-daemon --session --fork --nosyslog --print-pid --address=" + address;
        FILE* out = ::popen(command.c_str(), "r");
        if (out == nullptr || std::fscanf(out, "%d", &pid_) != 1) {
            if (out)
                ::pclose(out);
            throw std::runtime_error("cannot start dbus-daemon");
        }
        ::pclose(out);
        env_.emplace("DBUS_SESSION_BUS_ADDRESS", address);
    }
    ~PrivateSessionBus() { ::kill(pid_, SIGTERM); }
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  private:
    TempDir dir_;
    pid_t pid_ = 0;
    std::optional<ScopedEnv> env_;
};

} // namespace velnote::testing
