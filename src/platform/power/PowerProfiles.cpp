#include "platform/power/PowerProfiles.h"

#include "platform/logging/Logger.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <systemd/sd-bus.h>

namespace velnote::platform {

namespace {

const Logger& log() {
    static const Logger logger("io.hushtape.velnote", "platform");
    return logger;
}

struct BusUnref {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using BusPtr = std::unique_ptr<sd_bus, BusUnref>;

struct ErrorFree {
    void operator()(sd_bus_error* error) const { sd_bus_error_free(error); }
};

struct Daemon {
    const char* name; // also the interface
    const char* path;
};

constexpr std::array<Daemon, 2> kDaemons{{
    {"org.freedesktop.UPower.PowerProfiles", "/org/freedesktop/UPower/PowerProfiles"},
    {"net.hadess.PowerProfiles", "/net/hadess/PowerProfiles"},
}};

constexpr std::uint64_t kCallTimeoutUs = 2'000'000;

BusPtr openBus(const std::string& address) {
    sd_bus* raw = nullptr;
    if (address.empty()) {
        const int r = sd_bus_open_system(&raw);
        BusPtr bus(raw);
        if (r < 0) {
            log().debug("cannot open the system bus: {}", std::strerror(-r));
            return nullptr;
        }
        return bus;
    }
    if (sd_bus_new(&raw) < 0)
        return nullptr;
    BusPtr bus(raw);
    int r = sd_bus_set_address(raw, address.c_str());
    if (r >= 0)
        r = sd_bus_set_bus_client(raw, 1);
    if (r >= 0)
        r = sd_bus_start(raw);
    if (r < 0) {
        log().debug("cannot open the bus {}: {}", address, std::strerror(-r));
        return nullptr;
    }
    return bus;
}

std::optional<std::string> readProfile(sd_bus* bus, const Daemon& daemon) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    std::unique_ptr<sd_bus_error, ErrorFree> errorGuard(&error);
    char* raw = nullptr;
    const int r =
        sd_bus_get_property_string(bus, daemon.name, daemon.path, daemon.name, "ActiveProfile", &error, &raw);
    std::unique_ptr<char, decltype(&std::free)> value(raw, &std::free);
    if (r < 0) {
        log().debug("power profile not read from {}: {}", daemon.name,
                    error.message != nullptr ? error.message : std::strerror(-r));
        return std::nullopt;
    }
    return std::string(value.get());
}

} // namespace

PowerProfiles::PowerProfiles(std::string busAddress) : busAddress_(std::move(busAddress)) {}

std::optional<std::string> PowerProfiles::activeProfile() const {
    const BusPtr bus = openBus(busAddress_);
    if (!bus)
        return std::nullopt;
    sd_bus_set_method_call_timeout(bus.get(), kCallTimeoutUs);
    for (const auto& daemon : kDaemons) {
        if (auto profile = readProfile(bus.get(), daemon))
            return profile;
    }
    return std::nullopt;
}

bool PowerProfiles::isPowerSaver(const std::optional<std::string>& profile) {
    return profile == "power-saver";
}

} // namespace velnote::platform
