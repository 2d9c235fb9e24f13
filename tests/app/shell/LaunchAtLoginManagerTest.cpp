#include "app/shell/LaunchAtLoginManager.h"

#include "platform/fs/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {
namespace fs = std::filesystem;

TEST(LaunchAtLoginManagerTest, EnablingWritesTheAutostartEntryAndDisablingRemovesIt) {
    testing::TempDir dir;
    testing::ScopedEnv config("XDG_CONFIG_HOME", dir.path().string());
    const fs::path entry = dir / "autostart" / "io.hushtape.velnote.desktop";
    ASSERT_EQ(LaunchAtLoginManager::autostartEntryPath(), entry);

    for (int launch = 0; launch < 2; ++launch) { // every launch writes it again
        LaunchAtLoginManager::apply(true);
        const std::string text = platform::readFile(entry);
        EXPECT_NE(text.find("[Desktop Entry]\nType=Application\nName=Hushtape\n"), std::string::npos);
        EXPECT_NE(text.find("Exec=\"" + LaunchAtLoginManager::executablePath().string() + "\"\n"),
                  std::string::npos);
    }
    LaunchAtLoginManager::apply(false);
    EXPECT_FALSE(fs::exists(entry));
    LaunchAtLoginManager::apply(false); // nothing to remove: no error
    EXPECT_FALSE(fs::exists(entry));
}

TEST(LaunchAtLoginManagerTest, ARefusalIsOnlyLogged) {
    testing::TempDir dir;
    testing::ScopedEnv config("XDG_CONFIG_HOME", dir.path().string());
    platform::writeFileAtomically(dir / "autostart", "a file where the folder should be");
    EXPECT_NO_THROW(LaunchAtLoginManager::apply(true));
    EXPECT_NO_THROW(LaunchAtLoginManager::apply(false));
    // A relative XDG_CONFIG_HOME is ignored, as the base-directory rules say.
    testing::ScopedEnv relative("XDG_CONFIG_HOME", "relative/config");
    testing::ScopedEnv home("HOME", dir.path().string());
    EXPECT_EQ(LaunchAtLoginManager::autostartEntryPath(),
              dir / ".config" / "autostart" / "io.hushtape.velnote.desktop");
}

TEST(LaunchAtLoginManagerTest, TheExecLineQuotesAndEscapesThePath) {
    struct Case {
        const char* path;
        const char* exec;
    };
    for (const Case& c : {
             Case{"/opt/Hushtape/velnote", R"(Exec="/opt/Hushtape/velnote")"},
             Case{"/home/a b/velnote", R"(Exec="/home/a b/velnote")"},
             Case{"/x/$HOME/`id`/\"q\"", R"(Exec="/x/\\$HOME/\\`id\\`/\\"q\\"")"},
             Case{"/x/back\\slash", R"(Exec="/x/back\\\\slash")"},
             Case{"/x/100%/velnote", R"(Exec="/x/100%%/velnote")"},
         }) {
        const std::string entry = LaunchAtLoginManager::desktopEntry(c.path);
        EXPECT_NE(entry.find(std::string(c.exec) + "\n"), std::string::npos) << c.path << "\n" << entry;
    }
    EXPECT_THROW(LaunchAtLoginManager::desktopEntry("/x/new\nline"), std::invalid_argument);
}

} // namespace
} // namespace velnote
