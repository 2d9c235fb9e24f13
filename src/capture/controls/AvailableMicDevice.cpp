#include "capture/controls/AvailableMicDevice.h"

#include "platform/audio/AudioServerError.h"
#include "platform/audio/PulseClient.h"

namespace velnote {

std::vector<AvailableMicDevice> AvailableMicDevice::enumerate() {
    try {
        platform::PulseClient client(platform::PulseClient::Options{.clientName = "Hushtape devices"});
        client.connect();
        return enumerate(client);
    } catch (const std::exception&) { // also an event loop that cannot start
        return {};
    }
}

std::vector<AvailableMicDevice> AvailableMicDevice::enumerate(platform::PulseClient& client) {
    std::vector<AvailableMicDevice> devices;
    try {
        const std::string defaultSource = client.serverInfo().defaultSourceName;
        for (const platform::AudioSourceInfo& source : client.sources()) {
            if (source.isMonitor && source.name != defaultSource) {
                continue;
            }
            devices.push_back({.id = source.name,
                               .name = source.description.empty() ? source.name : source.description,
                               .deviceID = source.index});
        }
    } catch (const platform::AudioServerError&) {
        return {};
    }
    return devices;
}

namespace {
std::optional<std::uint32_t> find(const std::vector<AvailableMicDevice>& devices, const std::string& uid) {
    for (const AvailableMicDevice& device : devices) {
        if (device.id == uid) {
            return device.deviceID;
        }
    }
    return std::nullopt;
}
} // namespace

std::optional<std::uint32_t> AvailableMicDevice::deviceIDForUID(const std::string& uid) {
    return find(enumerate(), uid);
}

std::optional<std::uint32_t> AvailableMicDevice::deviceIDForUID(platform::PulseClient& client,
                                                                const std::string& uid) {
    return find(enumerate(client), uid);
}

} // namespace velnote
