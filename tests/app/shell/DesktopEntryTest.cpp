#include "app/shell/InstanceActivation.h"
#include "platform/fs/Files.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>

namespace velnote {
namespace {

// The keys of the "[Desktop Entry]" group; a key given twice fails the test.
std::map<std::string, std::string> desktopEntryKeys(const std::string& text) {
    std::map<std::string, std::string> keys;
    std::istringstream lines(text);
    std::string line;
    bool inGroup = false;
    while (std::getline(lines, line)) {
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            inGroup = line == "[Desktop Entry]";
            continue;
        }
        const auto equals = line.find('=');
        EXPECT_NE(equals, std::string::npos) << line;
        if (!inGroup || equals == std::string::npos)
            continue;
        EXPECT_TRUE(keys.emplace(line.substr(0, equals), line.substr(equals + 1)).second) << line;
    }
    return keys;
}

TEST(DesktopEntryTest, TheLauncherStartsThisProgramUnderItsApplicationId) {
    const std::filesystem::path file = VELNOTE_DESKTOP_ENTRY;
    // Qt, the notification service and the single-instance bus name all use this id.
    EXPECT_EQ(file.stem().string(), InstanceActivation::kBusName);

    auto keys = desktopEntryKeys(platform::readFile(file));
    EXPECT_EQ(keys["Type"], "Application");
    EXPECT_EQ(keys["Name"], "Hushtape");
    EXPECT_EQ(keys["Exec"], VELNOTE_EXECUTABLE_NAME);
    EXPECT_EQ(keys["Terminal"], "false");
    EXPECT_EQ(keys["MimeType"], "x-scheme-handler/velnote-mcp;");
    EXPECT_TRUE(keys["Categories"].ends_with(";")) << keys["Categories"];
}

} // namespace
} // namespace velnote
