#pragma once

#include "platform/concurrency/Executor.h"
#include "platform/notifications/NotificationCenter.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace velnote::platform {

class BusConnection;

// Notifications through the freedesktop notification service (org.freedesktop.Notifications on
// the session bus).
//
// Each notification offers the "default" action (a click on it) and the actions of its category,
// labelled with their titles. The service knows notifications only by the number it returns, so
// the request's identifier and user information are kept here under that number until the
// notification is closed, and each ActionInvoked signal is turned back into a response. A request
// whose identifier is still shown replaces that notification. The identifier also travels as the
// hint "x-velnote-identifier"; the default sound is the hint "sound-name" "message-new-instant".
class FreedesktopNotificationCenter final : public NotificationCenter {
  public:
    // `appName`: the application name the service shows. Responses are handed to the handler on
    // `responseExecutor`. Connects lazily: construction never fails.
    explicit FreedesktopNotificationCenter(Executor& responseExecutor, std::string appName = "Hushtape",
                                           std::chrono::milliseconds callTimeout = std::chrono::seconds(5));
    ~FreedesktopNotificationCenter() override;

    void setCategories(std::vector<NotificationCategory> categories) override;
    void setResponseHandler(ResponseHandler handler) override;
    void add(const NotificationRequest& request) override;

    struct Shared; // what the bus handlers reach

  private:
    // The connection, made on first use; throws NotificationError when the bus is unreachable.
    BusConnection& connection();

    std::mutex mutex_; // guards connection_ creation
    std::shared_ptr<Shared> shared_;
    const std::string appName_;
    const std::chrono::milliseconds callTimeout_;
    std::unique_ptr<BusConnection> connection_; // destroyed first: no handler runs after
};

} // namespace velnote::platform
