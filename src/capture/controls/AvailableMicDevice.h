#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velnote {
namespace platform {
class PulseClient;
}

// One audio input of the machine, as the sound server lists it: the microphone choices of the
// recording window. The settings ("micDeviceUID") and the session configuration hold the `id`,
// never the index.
struct AvailableMicDevice {
    std::string id;             // the source name: stable across restarts
    std::string name;           // the description; the id when the source has none
    std::uint32_t deviceID = 0; // the server's source index, valid only while the source exists

    bool operator==(const AvailableMicDevice&) const = default;

    // Every capture source in the server's order: the monitors of outputs are left out, except the
    // default source, which counts as an input whatever it is. Never fails: without a server, or
    // when it does not answer, the list is empty. Blocks for one short connection.
    static std::vector<AvailableMicDevice> enumerate();
    static std::vector<AvailableMicDevice> enumerate(platform::PulseClient& client);

    // The index of the first listed device whose id equals `uid` exactly (letter case counts);
    // none when no listed device has it.
    static std::optional<std::uint32_t> deviceIDForUID(const std::string& uid);
    static std::optional<std::uint32_t> deviceIDForUID(platform::PulseClient& client, const std::string& uid);
};

} // namespace velnote
