#include "engine/foundation/DeviceInfo.h"

#include "support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>

namespace basalith {
namespace {

void write(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

TEST(DeviceInfoTest, ReadsDmiAndCpuInfo) {
    velnote::testing::TempDir root;
    write(root / "sys/class/dmi/id/product_name", "ThinkPad X1 Carbon Gen 11\n");
    write(root / "proc/cpuinfo", "processor\t: 0\nvendor_id\t: GenuineIntel\ncpu family\t: 6\n"
                                 "model name\t: Intel(R) Core(TM) i7\ncpu cores\t: 2\n\n"
                                 "processor\t: 1\nvendor_id\t: GenuineIntel\ncpu family\t: 6\n"
                                 "model name\t: Intel(R) Core(TM) i7\ncpu cores\t: 2\n");
    const DeviceInfo info = DeviceInfo::read(root.path());
    EXPECT_EQ(info.hwModel, "ThinkPad X1 Carbon Gen 11");
    EXPECT_EQ(info.processor, "Intel(R) Core(TM) i7");
    EXPECT_EQ(info.cores, "2");
    EXPECT_EQ(info.threads, "2");
    EXPECT_EQ(info.vendor, "GenuineIntel");
    EXPECT_EQ(info.family, "6");
}

TEST(DeviceInfoTest, BoardsWithoutDmiUseTheDeviceTreeAndMissingValuesAreEmpty) {
    velnote::testing::TempDir root;
    write(root / "proc/device-tree/model", std::string("Raspberry Pi 5 Model B Rev 1.0\0", 31));
    const DeviceInfo info = DeviceInfo::read(root.path());
    EXPECT_EQ(info.hwModel, "Raspberry Pi 5 Model B Rev 1.0");
    EXPECT_EQ(info.processor, "");
    EXPECT_EQ(info.threads, "");
}

} // namespace
} // namespace basalith
