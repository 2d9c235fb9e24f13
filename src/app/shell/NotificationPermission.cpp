#include "app/shell/NotificationPermission.h"

#include "platform/dbus/BusConnection.h"
#include "session/VelnoteLogger.h"

#include <cstdint>
#include <cstring>
#include <system_error>
#include <systemd/sd-bus.h>

namespace velnote {
namespace {

constexpr const char* kService = "org.freedesktop.Notifications";

// Calls a method of the bus itself; the reply (or none on failure) goes to `read`.
int callBus(sd_bus* bus, const char* method, std::uint64_t usec, const char* signature, const char* argument,
            int (*read)(sd_bus_message*, bool&), bool& answer) {
    sd_bus_message* call = nullptr;
    int r = sd_bus_message_new_method_call(bus, &call, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                           "org.freedesktop.DBus", method);
    if (r >= 0 && signature != nullptr) {
        r = sd_bus_message_append(call, signature, argument);
    }
    sd_bus_message* reply = nullptr;
    if (r >= 0) {
        r = sd_bus_call(bus, call, usec, nullptr, &reply);
    }
    if (r >= 0) {
        r = read(reply, answer);
    }
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    return r;
}

int readBoolean(sd_bus_message* reply, bool& answer) {
    int value = 0;
    const int r = sd_bus_message_read(reply, "b", &value);
    answer = r >= 0 && value != 0;
    return r;
}

int readNamesContainService(sd_bus_message* reply, bool& answer) {
    answer = false;
    int r = sd_bus_message_enter_container(reply, 'a', "s");
    const char* name = nullptr;
    while (r >= 0 && (r = sd_bus_message_read(reply, "s", &name)) > 0) {
        answer = answer || std::strcmp(name, kService) == 0;
    }
    return r;
}

} // namespace

bool NotificationPermission::isAuthorized(std::chrono::milliseconds timeout) {
    const auto usec =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(timeout).count());
    try {
        platform::BusConnection connection(platform::BusConnection::Kind::session);
        bool owned = false;
        bool activatable = false;
        int r = 0;
        connection.withBus([&](sd_bus* bus) {
            r = callBus(bus, "NameHasOwner", usec, "s", kService, readBoolean, owned);
            if (r >= 0 && !owned) {
                r = callBus(bus, "ListActivatableNames", usec, nullptr, nullptr, readNamesContainService,
                            activatable);
            }
        });
        if (r < 0) {
            VelnoteLogger::processing().error("notification service check failed: {}", std::strerror(-r));
        }
        return owned || activatable;
    } catch (const std::system_error& e) {
        VelnoteLogger::processing().error("notification service check failed: {}", e.what());
        return false;
    }
}

} // namespace velnote
