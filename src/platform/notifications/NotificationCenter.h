#pragma once

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace velnote::platform {

// A value of a notification's user information: text or a flag.
using NotificationUserInfoValue = std::variant<std::string, bool>;
using NotificationUserInfo = std::map<std::string, NotificationUserInfoValue, std::less<>>;

struct NotificationAction {
    std::string identifier; // what the response reports
    std::string title;      // the button's label
};

// A kind of notification and the actions each notification of that kind offers.
struct NotificationCategory {
    std::string identifier;
    std::vector<NotificationAction> actions;
};

struct NotificationRequest {
    std::string identifier; // a later request with the same identifier replaces the notification
    std::string title;
    std::string body;
    std::string categoryIdentifier; // empty: no actions beyond the click
    NotificationUserInfo userInfo;  // handed back with the user's response
    bool playsDefaultSound = false;
};

// What the user did with a posted notification.
struct NotificationResponse {
    std::string requestIdentifier;
    std::string actionIdentifier; // an action of the category, or kDefaultActionIdentifier for a click
    NotificationUserInfo userInfo;
};

// The service could not be reached or refused the notification.
class NotificationError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Posts user notifications and reports the responses.
class NotificationCenter {
  public:
    using ResponseHandler = std::function<void(const NotificationResponse&)>;

    static constexpr const char* kDefaultActionIdentifier = "default";

    virtual ~NotificationCenter() = default;

    // Replaces the registered categories.
    virtual void setCategories(std::vector<NotificationCategory> categories) = 0;
    // Replaces the handler of the user's responses; empty drops them.
    virtual void setResponseHandler(ResponseHandler handler) = 0;
    // Shows the notification at once. Blocks until the service has accepted it; throws
    // NotificationError when it cannot be shown.
    virtual void add(const NotificationRequest& request) = 0;
};

} // namespace velnote::platform
