#include "platform/power/ThermalZones.h"

#include "support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velnote::platform {
namespace {
namespace fs = std::filesystem;

struct Trip {
    std::string temp;
    std::string type;
};

struct Zone {
    std::string temp;
    std::vector<Trip> trips;
};

void write(const fs::path& file, const std::string& text) {
    std::ofstream(file) << text << "\n";
}

void makeZone(const fs::path& root, int index, const Zone& zone) {
    const fs::path dir = root / ("thermal_zone" + std::to_string(index));
    fs::create_directories(dir);
    if (!zone.temp.empty())
        write(dir / "temp", zone.temp);
    for (std::size_t i = 0; i < zone.trips.size(); ++i) {
        write(dir / ("trip_point_" + std::to_string(i) + "_temp"), zone.trips[i].temp);
        write(dir / ("trip_point_" + std::to_string(i) + "_type"), zone.trips[i].type);
    }
}

const std::vector<Trip> laptopTrips = {
    {"60000", "active"}, {"85000", "passive"}, {"98000", "hot"}, {"105000", "critical"}};

TEST(ThermalZonesTest, TheHottestTripPointReachedInAnyZoneDecides) {
    const struct {
        const char* name;
        std::vector<Zone> zones;
        ThermalState expected;
    } cases[] = {
        {"no zones", {}, ThermalState::nominal},
        {"below every trip", {{"45000", laptopTrips}}, ThermalState::nominal},
        {"fans on", {{"60000", laptopTrips}}, ThermalState::fair},
        {"throttling", {{"90000", laptopTrips}}, ThermalState::serious},
        {"hot", {{"99000", laptopTrips}}, ThermalState::critical},
        {"past critical", {{"110000", laptopTrips}}, ThermalState::critical},
        {"the hottest zone wins", {{"40000", laptopTrips}, {"86000", laptopTrips}}, ThermalState::serious},
        {"a zone without trips", {{"120000", {}}}, ThermalState::nominal},
        {"unused trips (0, negative) are ignored",
         {{"50000", {{"0", "passive"}, {"-273200", "critical"}}}},
         ThermalState::nominal},
        {"unknown trip types are ignored", {{"90000", {{"1000", "unknown"}}}}, ThermalState::nominal},
        {"unreadable temperature", {{"", laptopTrips}, {"garbage", laptopTrips}}, ThermalState::nominal},
    };
    for (const auto& c : cases) {
        testing::TempDir root;
        for (std::size_t i = 0; i < c.zones.size(); ++i)
            makeZone(root.path(), static_cast<int>(i), c.zones[i]);
        fs::create_directories(root / "cooling_device0"); // other entries of the class are skipped
        EXPECT_EQ(ThermalZones(root.path()).read(), c.expected) << c.name;
    }
}

TEST(ThermalZonesTest, AMissingRootReadsNominal) {
    EXPECT_EQ(ThermalZones("/nonexistent/thermal").read(), ThermalState::nominal);
}

} // namespace
} // namespace velnote::platform
