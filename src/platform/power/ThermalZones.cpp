#include "platform/power/ThermalZones.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <optional>
#include <string>

namespace velnote::platform {
namespace fs = std::filesystem;

namespace {

std::optional<std::string> firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line))
        return std::nullopt;
    return line;
}

std::optional<long long> readMillidegrees(const fs::path& file) {
    const auto line = firstLine(file);
    if (!line)
        return std::nullopt;
    long long value = 0;
    const auto* end = line->data() + line->size();
    const auto [at, ec] = std::from_chars(line->data(), end, value);
    if (ec != std::errc{} || at == line->data())
        return std::nullopt;
    return value;
}

std::optional<ThermalState> stateOfTripType(const std::string& type) {
    if (type == "active")
        return ThermalState::fair;
    if (type == "passive")
        return ThermalState::serious;
    if (type == "hot" || type == "critical")
        return ThermalState::critical;
    return std::nullopt;
}

ThermalState zoneState(const fs::path& zone) {
    const auto temp = readMillidegrees(zone / "temp");
    if (!temp)
        return ThermalState::nominal;
    ThermalState state = ThermalState::nominal;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(zone, ec)) {
        const std::string name = entry.path().filename().string();
        constexpr std::string_view prefix = "trip_point_";
        constexpr std::string_view suffix = "_temp";
        if (!name.starts_with(prefix) || !name.ends_with(suffix))
            continue;
        const std::string stem = name.substr(0, name.size() - suffix.size());
        const auto tripTemp = readMillidegrees(entry.path());
        const auto type = firstLine(zone / (stem + "_type"));
        // Firmware marks unused trip points with 0 or a negative temperature.
        if (!tripTemp || *tripTemp <= 0 || !type || *temp < *tripTemp)
            continue;
        if (const auto reached = stateOfTripType(*type))
            state = std::max(state, *reached);
    }
    return state;
}

} // namespace

ThermalZones::ThermalZones(fs::path sysfsRoot) : root_(std::move(sysfsRoot)) {}

ThermalState ThermalZones::read() const {
    ThermalState state = ThermalState::nominal;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root_, ec)) {
        if (entry.path().filename().string().starts_with("thermal_zone"))
            state = std::max(state, zoneState(entry.path()));
    }
    return state;
}

} // namespace velnote::platform
