#include "platform/power/PowerProfiles.h"

#include <gtest/gtest.h>

namespace velnote::platform {
namespace {

TEST(PowerProfilesTest, OnlyThePowerSaverProfileSavesPower) {
    EXPECT_TRUE(PowerProfiles::isPowerSaver("power-saver"));
    for (const auto& other :
         {std::optional<std::string>("balanced"), std::optional<std::string>("performance"),
          std::optional<std::string>(), std::optional<std::string>("Power-Saver")})
        EXPECT_FALSE(PowerProfiles::isPowerSaver(other)) << other.value_or("none");
}

TEST(PowerProfilesTest, AnUnreachableBusReadsAsNoProfile) {
    EXPECT_EQ(PowerProfiles("unix:path=/nonexistent/velnote-bus").activeProfile(), std::nullopt);
    EXPECT_EQ(PowerProfiles("not an address").activeProfile(), std::nullopt);
}

} // namespace
} // namespace velnote::platform
