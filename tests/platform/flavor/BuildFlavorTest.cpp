#include "platform/flavor/BuildFlavor.h"

#include "support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace velnote {
namespace {

class BuildFlavorTest : public ::testing::Test {
  protected:
    void SetUp() override { BuildFlavor::setSandboxMarkerPath(dir_ / ".flatpak-info"); }
    void TearDown() override {
        BuildFlavor::setTestOverride(std::nullopt);
        BuildFlavor::setSandboxMarkerPath("/.flatpak-info");
    }
    void createMarker() { std::ofstream(dir_ / ".flatpak-info") << "[Application]\n"; }

    testing::TempDir dir_;
};

TEST_F(BuildFlavorTest, StartsEmptyAndMatchesNeitherFlavour) {
    EXPECT_EQ(BuildFlavor::testOverride(), std::nullopt);
    EXPECT_FALSE(BuildFlavor::overrideIsAppStore());
    EXPECT_FALSE(BuildFlavor::overrideIsDirect());
    EXPECT_EQ(BuildFlavor::sandboxMarkerPath(), dir_ / ".flatpak-info");
}

TEST_F(BuildFlavorTest, StoreBuildFromOverrideOrSandbox) {
    struct Case {
        std::optional<BuildFlavorType> flavor;
        bool sandboxed;
        bool expected;
    };
    const Case cases[] = {
        {std::nullopt, false, false},
        {std::nullopt, true, true}, // empty override follows the sandbox
        {BuildFlavorType::direct, true, true},
        {BuildFlavorType::direct, false, false},
        {BuildFlavorType::appStore, false, true},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(dir_ / ".flatpak-info");
        if (c.sandboxed)
            createMarker();
        BuildFlavor::setTestOverride(c.flavor);
        EXPECT_EQ(BuildFlavor::isAppStoreBuild(), c.expected)
            << "override " << (c.flavor ? int(*c.flavor) : -1) << " sandboxed " << c.sandboxed;
    }
}

TEST_F(BuildFlavorTest, MarkerThatIsNotAFileDoesNotCount) {
    std::filesystem::create_directory(dir_ / ".flatpak-info");
    EXPECT_FALSE(BuildFlavor::isAppStoreBuild());
}

TEST_F(BuildFlavorTest, ConcurrentReadersSeeAWholeValue) {
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([] {
            for (int n = 0; n < 2000; ++n) {
                const auto flavor = BuildFlavor::testOverride();
                ASSERT_TRUE(!flavor || *flavor == BuildFlavorType::appStore ||
                            *flavor == BuildFlavorType::direct);
            }
        });
    }
    for (int n = 0; n < 2000; ++n) {
        BuildFlavor::setTestOverride(n % 2 ? BuildFlavorType::direct : BuildFlavorType::appStore);
    }
    for (auto& t : readers)
        t.join();
}

} // namespace
} // namespace velnote
