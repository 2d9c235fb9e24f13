#pragma once

#include "platform/dbus/BusConnection.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <systemd/sd-bus.h>
#include <thread>
#include <vector>

namespace velnote::testing {

// A freedesktop notification service on the test's session bus: records every Notify call,
// answers with increasing numbers (or an error when told to), and emits ActionInvoked and
// NotificationClosed on request.
class FakeNotificationServer {
  public:
    struct Call {
        std::string appName;
        std::uint32_t replacesId = 0;
        std::string summary;
        std::string body;
        std::vector<std::pair<std::string, std::string>> actions; // key, label
        std::map<std::string, std::string> stringHints;
        std::uint32_t id = 0; // what the server answered
    };

    FakeNotificationServer() : connection_(platform::BusConnection::Kind::session) {
        connection_.addSlot([this](sd_bus* bus, sd_bus_slot** slot) {
            return sd_bus_add_object(bus, slot, kPath, &FakeNotificationServer::onCall, this);
        });
        connection_.addSlot([](sd_bus* bus, sd_bus_slot**) {
            return sd_bus_request_name(bus, "org.freedesktop.Notifications", 0);
        });
        connection_.startDispatching();
    }

    void setRefusing(bool refusing) {
        std::lock_guard lock(mutex_);
        refusing_ = refusing;
    }

    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

    void invokeAction(std::uint32_t id, const std::string& key) {
        connection_.withBus([&](sd_bus* bus) {
            sd_bus_emit_signal(bus, kPath, kInterface, "ActionInvoked", "us", id, key.c_str());
        });
    }
    void close(std::uint32_t id) {
        connection_.withBus([&](sd_bus* bus) {
            sd_bus_emit_signal(bus, kPath, kInterface, "NotificationClosed", "uu", id, 2u);
        });
    }

  private:
    static constexpr const char* kPath = "/org/freedesktop/Notifications";
    static constexpr const char* kInterface = "org.freedesktop.Notifications";

    static int onCall(sd_bus_message* m, void* userdata, sd_bus_error* error) {
        auto* self = static_cast<FakeNotificationServer*>(userdata);
        if (sd_bus_message_is_method_call(m, kInterface, "Notify"))
            return self->notify(m, error);
        if (sd_bus_message_is_method_call(m, kInterface, "GetCapabilities")) {
            return sd_bus_reply_method_return(m, "as", 2, "actions", "body");
        }
        return 0;
    }

    int notify(sd_bus_message* m, sd_bus_error* error) {
        Call call;
        const char *app = nullptr, *icon = nullptr, *summary = nullptr, *body = nullptr;
        if (sd_bus_message_read(m, "susss", &app, &call.replacesId, &icon, &summary, &body) < 0)
            return -EINVAL;
        call.appName = app;
        call.summary = summary;
        call.body = body;
        sd_bus_message_enter_container(m, 'a', "s");
        const char *key = nullptr, *label = nullptr;
        while (sd_bus_message_read(m, "ss", &key, &label) > 0)
            call.actions.emplace_back(key, label);
        sd_bus_message_exit_container(m);
        sd_bus_message_enter_container(m, 'a', "{sv}");
        while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
            const char* name = nullptr;
            sd_bus_message_read(m, "s", &name);
            const char* value = nullptr;
            if (sd_bus_message_read(m, "v", "s", &value) > 0) {
                call.stringHints[name] = value;
            } else {
                sd_bus_message_skip(m, "v");
            }
            sd_bus_message_exit_container(m);
        }
        sd_bus_message_exit_container(m);
        std::lock_guard lock(mutex_);
        if (refusing_) {
            return sd_bus_error_set(error, "org.freedesktop.Notifications.Error.Refused", "refused by test");
        }
        call.id = call.replacesId != 0 ? call.replacesId : ++lastId_;
        calls_.push_back(call);
        return sd_bus_reply_method_return(m, "u", call.id);
    }

    mutable std::mutex mutex_;
    std::vector<Call> calls_;
    std::uint32_t lastId_ = 0;
    bool refusing_ = false;
    platform::BusConnection connection_; // last: its dispatch thread stops before the rest goes
};

} // namespace velnote::testing
