#include "platform/notifications/FreedesktopNotificationCenter.h"

#include "platform/concurrency/CallbackGuard.h"
#include "platform/dbus/BusConnection.h"

#include <cstring>
#include <optional>
#include <systemd/sd-bus.h>

namespace velnote::platform {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";

struct MessageUnref {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

class BusError {
  public:
    ~BusError() { sd_bus_error_free(&error_); }
    sd_bus_error* get() { return &error_; }
    std::string describe(int result) const {
        if (error_.message)
            return error_.message;
        return std::strerror(-result);
    }

  private:
    sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

void check(int result, const char* what) {
    if (result < 0) {
        throw NotificationError(std::string(what) + ": " + std::strerror(-result));
    }
}

void appendStringHint(sd_bus_message* m, const char* key, const std::string& value) {
    check(sd_bus_message_open_container(m, 'e', "sv"), "hint");
    check(sd_bus_message_append(m, "s", key), "hint");
    check(sd_bus_message_append(m, "v", "s", value.c_str()), "hint");
    check(sd_bus_message_close_container(m), "hint");
}

} // namespace

struct FreedesktopNotificationCenter::Shared {
    explicit Shared(Executor& e) : executor(e) {}

    struct Shown {
        std::string identifier;
        NotificationUserInfo userInfo;
    };

    Executor& executor;
    CallbackGuard guard;
    std::mutex mutex; // taken after the bus lock, never before it
    std::map<std::string, NotificationCategory, std::less<>> categories;
    std::shared_ptr<const ResponseHandler> handler;
    std::map<std::uint32_t, Shown> shown; // by the service's number, until closed
};

namespace {

using Shared = FreedesktopNotificationCenter::Shared;

std::shared_ptr<Shared> sharedOf(void* userdata) {
    return static_cast<std::weak_ptr<Shared>*>(userdata)->lock();
}

int onActionInvoked(sd_bus_message* message, void* userdata, sd_bus_error*) {
    std::uint32_t id = 0;
    const char* key = nullptr;
    auto shared = sharedOf(userdata);
    if (!shared || sd_bus_message_read(message, "us", &id, &key) < 0) {
        return 0;
    }
    std::lock_guard lock(shared->mutex);
    const auto it = shared->shown.find(id);
    if (it == shared->shown.end() || !shared->handler) {
        return 0; // another application's notification, or nobody listens
    }
    NotificationResponse response{it->second.identifier, key, it->second.userInfo};
    shared->executor.post(
        [shared, handler = shared->handler, response] { shared->guard.run([&] { (*handler)(response); }); });
    return 0;
}

int onNotificationClosed(sd_bus_message* message, void* userdata, sd_bus_error*) {
    std::uint32_t id = 0;
    std::uint32_t reason = 0;
    auto shared = sharedOf(userdata);
    if (shared && sd_bus_message_read(message, "uu", &id, &reason) >= 0) {
        std::lock_guard lock(shared->mutex);
        shared->shown.erase(id);
    }
    return 0;
}

void watchSignal(BusConnection& connection, const char* member, sd_bus_message_handler_t handler,
                 const std::shared_ptr<Shared>& shared) {
    connection.addSlot([&](sd_bus* bus, sd_bus_slot** slot) {
        auto* cell = new std::weak_ptr<Shared>(shared);
        const int r = sd_bus_match_signal(bus, slot, kService, kPath, kInterface, member, handler, cell);
        if (r < 0) {
            delete cell;
            return r;
        }
        sd_bus_slot_set_destroy_callback(
            *slot, [](void* data) { delete static_cast<std::weak_ptr<Shared>*>(data); });
        return r;
    });
}

} // namespace

FreedesktopNotificationCenter::FreedesktopNotificationCenter(Executor& responseExecutor, std::string appName,
                                                             std::chrono::milliseconds callTimeout)
    : shared_(std::make_shared<Shared>(responseExecutor)), appName_(std::move(appName)),
      callTimeout_(callTimeout) {}

FreedesktopNotificationCenter::~FreedesktopNotificationCenter() {
    connection_.reset();
    shared_->guard.revoke();
}

void FreedesktopNotificationCenter::setCategories(std::vector<NotificationCategory> categories) {
    std::lock_guard lock(shared_->mutex);
    shared_->categories.clear();
    for (auto& category : categories) {
        auto key = category.identifier;
        shared_->categories.emplace(std::move(key), std::move(category));
    }
}

void FreedesktopNotificationCenter::setResponseHandler(ResponseHandler handler) {
    std::lock_guard lock(shared_->mutex);
    shared_->handler = handler ? std::make_shared<const ResponseHandler>(std::move(handler)) : nullptr;
}

BusConnection& FreedesktopNotificationCenter::connection() {
    std::lock_guard lock(mutex_);
    if (!connection_) {
        try {
            auto connection = std::make_unique<BusConnection>(BusConnection::Kind::session);
            watchSignal(*connection, "ActionInvoked", onActionInvoked, shared_);
            watchSignal(*connection, "NotificationClosed", onNotificationClosed, shared_);
            connection->startDispatching();
            connection_ = std::move(connection);
        } catch (const std::system_error& e) {
            throw NotificationError(e.what());
        }
    }
    return *connection_;
}

void FreedesktopNotificationCenter::add(const NotificationRequest& request) {
    std::vector<NotificationAction> actions{{kDefaultActionIdentifier, ""}};
    std::optional<std::uint32_t> replaces;
    {
        std::lock_guard lock(shared_->mutex);
        if (const auto it = shared_->categories.find(request.categoryIdentifier);
            it != shared_->categories.end()) {
            actions.insert(actions.end(), it->second.actions.begin(), it->second.actions.end());
        }
        for (const auto& [id, shown] : shared_->shown) {
            if (shown.identifier == request.identifier)
                replaces = id;
        }
    }
    connection().withBus([&](sd_bus* bus) {
        sd_bus_message* raw = nullptr;
        check(sd_bus_message_new_method_call(bus, &raw, kService, kPath, kInterface, "Notify"), "Notify");
        Message call(raw);
        check(sd_bus_message_append(call.get(), "susss", appName_.c_str(), replaces.value_or(0), "",
                                    request.title.c_str(), request.body.c_str()),
              "Notify");
        check(sd_bus_message_open_container(call.get(), 'a', "s"), "Notify");
        for (const auto& action : actions) {
            check(sd_bus_message_append(call.get(), "ss", action.identifier.c_str(), action.title.c_str()),
                  "Notify");
        }
        check(sd_bus_message_close_container(call.get()), "Notify");
        check(sd_bus_message_open_container(call.get(), 'a', "{sv}"), "Notify");
        appendStringHint(call.get(), "x-velnote-identifier", request.identifier);
        if (request.playsDefaultSound) {
            appendStringHint(call.get(), "sound-name", "message-new-instant");
        }
        check(sd_bus_message_close_container(call.get()), "Notify");
        check(sd_bus_message_append(call.get(), "i", -1), "Notify");

        BusError error;
        sd_bus_message* rawReply = nullptr;
        const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(callTimeout_).count();
        const int r = sd_bus_call(bus, call.get(), static_cast<std::uint64_t>(usec), error.get(), &rawReply);
        Message reply(rawReply);
        if (r < 0) {
            throw NotificationError("the notification service refused the notification: " +
                                    error.describe(r));
        }
        std::uint32_t id = 0;
        check(sd_bus_message_read(reply.get(), "u", &id), "Notify reply");
        std::lock_guard lock(shared_->mutex);
        if (replaces)
            shared_->shown.erase(*replaces);
        shared_->shown[id] = {request.identifier, request.userInfo};
    });
}

} // namespace velnote::platform
