#pragma once

#include <chrono>

namespace velnote {

// Whether the user can be shown notifications at all. The desktop asks no permission; what can
// keep notifications away is a session without a notification service. So "authorized" means
// that the name org.freedesktop.Notifications has an owner on the session bus or can be started
// there. Blocking (a bus round trip or two): call it off the main thread. Never throws.
class NotificationPermission {
  public:
    NotificationPermission() = delete;

    static bool isAuthorized(std::chrono::milliseconds timeout = std::chrono::seconds(2));
};

} // namespace velnote
