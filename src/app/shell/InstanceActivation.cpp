#include "app/shell/InstanceActivation.h"

#include "platform/dbus/BusConnection.h"
#include "session/VelnoteLogger.h"

#include <cstdint>
#include <cstring>
#include <system_error>
#include <systemd/sd-bus.h>

namespace velnote {

struct InstanceActivation::Handler {
    platform::Executor& target;
    std::function<void()> onActivate;
};

namespace {

// Runs on the connection's dispatch thread with the bus locked: only posts.
int onCall(sd_bus_message* message, void* userdata, sd_bus_error*) {
    if (!sd_bus_message_is_method_call(message, InstanceActivation::kInterface, "Activate")) {
        return 0; // not ours: sd-bus answers "unknown method"
    }
    const auto* handler = static_cast<const InstanceActivation::Handler*>(userdata);
    handler->target.post(handler->onActivate);
    return sd_bus_reply_method_return(message, "");
}

} // namespace

InstanceActivation::InstanceActivation(platform::Executor& target, std::function<void()> onActivate)
    : handler_(std::make_unique<Handler>(Handler{target, std::move(onActivate)})),
      connection_(std::make_unique<platform::BusConnection>(platform::BusConnection::Kind::session)) {
    connection_->addSlot([this](sd_bus* bus, sd_bus_slot** slot) {
        return sd_bus_add_object(bus, slot, kObjectPath, onCall, handler_.get());
    });
    connection_->addSlot([](sd_bus* bus, sd_bus_slot**) { return sd_bus_request_name(bus, kBusName, 0); });
    connection_->startDispatching();
}

InstanceActivation::~InstanceActivation() {
    connection_.reset();
}

bool InstanceActivation::activateRunningInstance(std::chrono::milliseconds timeout) {
    try {
        platform::BusConnection connection(platform::BusConnection::Kind::session);
        int result = 0;
        std::string errorText;
        connection.withBus([&](sd_bus* bus) {
            sd_bus_message* call = nullptr;
            result =
                sd_bus_message_new_method_call(bus, &call, kBusName, kObjectPath, kInterface, "Activate");
            if (result >= 0) {
                result = sd_bus_message_append(call, "a{sv}", 0);
            }
            if (result >= 0) {
                sd_bus_error error = SD_BUS_ERROR_NULL;
                sd_bus_message* reply = nullptr;
                const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(timeout).count();
                result = sd_bus_call(bus, call, static_cast<std::uint64_t>(usec), &error, &reply);
                if (result < 0 && error.message != nullptr) {
                    errorText = error.message;
                }
                sd_bus_message_unref(reply);
                sd_bus_error_free(&error);
            }
            sd_bus_message_unref(call);
        });
        if (result < 0) {
            VelnoteLogger::app().error("could not activate the running instance: {}",
                                       errorText.empty() ? std::strerror(-result) : errorText);
            return false;
        }
        return true;
    } catch (const std::system_error& e) {
        VelnoteLogger::app().error("could not activate the running instance: {}", e.what());
        return false;
    }
}

} // namespace velnote
