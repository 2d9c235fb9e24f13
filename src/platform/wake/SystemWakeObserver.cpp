#include "platform/wake/SystemWakeObserver.h"

#include "platform/concurrency/CallbackGuard.h"
#include "platform/logging/Logger.h"

#include <cstring>
#include <systemd/sd-bus.h>

namespace velnote::platform {

struct SystemWakeObserver::State {
    State(Executor& t, Job w) : target(t), onWake(std::move(w)) {}
    Executor& target;
    Job onWake;
    CallbackGuard guard;
};

namespace {

const Logger& logger() {
    static const Logger log("io.hushtape.velnote", "platform");
    return log;
}

int onPrepareForSleep(sd_bus_message* message, void* userdata, sd_bus_error*) {
    int goingToSleep = 0;
    if (sd_bus_message_read(message, "b", &goingToSleep) < 0 || goingToSleep) {
        return 0;
    }
    auto& weak = *static_cast<std::weak_ptr<SystemWakeObserver::State>*>(userdata);
    if (auto state = weak.lock()) {
        state->target.post([state] { state->guard.run(state->onWake); });
    }
    return 0;
}

} // namespace

SystemWakeObserver::SystemWakeObserver(Executor& target, Job onWake, BusConnection::Kind bus)
    : state_(std::make_shared<State>(target, std::move(onWake))) {
    // The match's user data is a weak reference, freed with the slot when the connection closes.
    try {
        auto connection = std::make_unique<BusConnection>(bus);
        connection->addSlot([&](sd_bus* b, sd_bus_slot** slot) {
            auto* cell = new std::weak_ptr<State>(state_);
            const int r = sd_bus_match_signal(b, slot, "org.freedesktop.login1", "/org/freedesktop/login1",
                                              "org.freedesktop.login1.Manager", "PrepareForSleep",
                                              onPrepareForSleep, cell);
            if (r < 0) {
                delete cell;
                return r;
            }
            sd_bus_slot_set_destroy_callback(
                *slot, [](void* data) { delete static_cast<std::weak_ptr<State>*>(data); });
            return r;
        });
        connection->startDispatching();
        connection_ = std::move(connection);
    } catch (const std::exception& e) {
        logger().error("wake from sleep not observed: {}", e.what());
    }
}

SystemWakeObserver::~SystemWakeObserver() {
    connection_.reset();
    state_->guard.revoke();
}

} // namespace velnote::platform
