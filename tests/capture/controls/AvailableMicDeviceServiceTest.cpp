#include "capture/controls/AvailableMicDevice.h"
#include "support/PulseTestServer.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {
using testing::PulseTestServer;

TEST(AvailableMicDeviceServiceTest, ListsCaptureSourcesAndTheDefaultButNotOtherMonitors) {
    PulseTestServer server;
    // A capture device of its own: the remapped monitor is a source that is not a monitor.
    PulseTestServer::pactl("load-module module-remap-source source_name=usbmic master=speaker.monitor "
                           "source_properties=device.description=USB-Mic");
    PulseTestServer::pactl("load-module module-remap-source source_name=bare master=speaker.monitor");

    const auto devices = AvailableMicDevice::enumerate();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].id, "mic.monitor"); // the default input, although a monitor
    EXPECT_EQ(devices[1].id, "usbmic");
    EXPECT_EQ(devices[1].name, "USB-Mic");
    EXPECT_EQ(devices[2].id, "bare");
    EXPECT_FALSE(devices[2].name.empty());

    EXPECT_EQ(AvailableMicDevice::deviceIDForUID("usbmic"), devices[1].deviceID);
    EXPECT_EQ(AvailableMicDevice::deviceIDForUID("mic.monitor"), devices[0].deviceID); // index 0 is a device
    EXPECT_FALSE(AvailableMicDevice::deviceIDForUID("USBMIC"));
    EXPECT_FALSE(AvailableMicDevice::deviceIDForUID("speaker.monitor"));
}

TEST(AvailableMicDeviceServiceTest, WithoutAServerTheListIsEmpty) {
    testing::TempDir dir;
    testing::ScopedEnv nowhere("PULSE_SERVER", "unix:" + (dir / "none").string());
    EXPECT_TRUE(AvailableMicDevice::enumerate().empty());
    EXPECT_FALSE(AvailableMicDevice::deviceIDForUID("mic.monitor"));
}

} // namespace
} // namespace velnote
