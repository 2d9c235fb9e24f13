#include "ui/settings/LanguageOptions.h"
#include "ui/settings/PermissionStates.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

TEST(SettingsPaneOpenerTest, TriesTheCandidatesInOrderAndStopsAtTheFirstThatStarts) {
    std::vector<std::string> tried;
    const auto launcherStartingOnly = [&](const std::string& wanted) {
        return [&tried, wanted](const std::string& program, const std::vector<std::string>& arguments) {
            tried.push_back(program + (arguments.empty() ? "" : " " + arguments.front()));
            return program == wanted;
        };
    };
    EXPECT_TRUE(SettingsPaneOpener(launcherStartingOnly("systemsettings")).open(PermissionKind::microphone));
    EXPECT_EQ(tried,
              (std::vector<std::string>{"gnome-control-center sound", "systemsettings kcm_pulseaudio"}));

    tried.clear();
    EXPECT_FALSE(SettingsPaneOpener(launcherStartingOnly("none")).open(PermissionKind::notifications));
    EXPECT_EQ(tried.size(), SettingsPaneOpener::candidates(PermissionKind::notifications).size());
}

TEST(LanguageOptionsTest, InputOffersAutoDetectFirstThenTheTenOutputLanguages) {
    const auto output = LanguageOptions::outputLanguages();
    const auto input = LanguageOptions::inputLanguages();
    ASSERT_EQ(output.size(), 10u);
    ASSERT_EQ(input.size(), 11u);
    EXPECT_EQ(input.front(), (LanguageOption{"auto", "Auto Detect"}));
    EXPECT_EQ(std::vector<LanguageOption>(input.begin() + 1, input.end()), output);
    std::vector<std::string> codes;
    for (const auto& option : output) {
        codes.push_back(option.id);
        EXPECT_FALSE(option.label.empty());
    }
    EXPECT_EQ(codes,
              (std::vector<std::string>{"ja", "en", "zh", "zh-tw", "ko", "fr", "de", "es", "it", "pt"}));
    EXPECT_EQ(LanguageOptions::displayName("ja"), "Japanese");
    EXPECT_EQ(LanguageOptions::displayName("qqq-xx"), "qqq-xx");
}

} // namespace
} // namespace velnote
