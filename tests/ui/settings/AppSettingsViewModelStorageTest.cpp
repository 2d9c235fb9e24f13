#include "support/TempDir.h"
#include "ui/settings/AppSettingsViewModel.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

class AppSettingsViewModelStorageTest : public ::testing::Test {
  protected:
    testing::TempDir dir;
    platform::SettingsStore store{dir.path() / "settings.json"};
};

TEST_F(AppSettingsViewModelStorageTest, AFreshInstallLoadsSwitchesOnAndNumbersAsZeroAndSavesThemBack) {
    AppSettingsViewModel model(store);
    EXPECT_EQ(model.screenshotEmbedMaxWidth.get(), 1280); // built-in until loaded
    model.load();
    EXPECT_TRUE(model.enableAutoMicDetection.get());
    EXPECT_TRUE(model.screenshotEnabled.get());
    EXPECT_TRUE(model.foregroundActivityTrackingEnabled.get());
    EXPECT_TRUE(model.screenshotEmbedInSummaryEnabled.get());
    EXPECT_EQ(model.sessionRetentionDays.get(), 0);
    EXPECT_EQ(model.screenshotEmbedMaxWidth.get(), 0);
    EXPECT_EQ(model.nightlyBatchHour.get(), 0);
    EXPECT_EQ(model.remoteChunkConcurrency.get(), 0);
    EXPECT_EQ(model.screenshotPollNormal.get(), 0.0);
    EXPECT_EQ(model.screenshotSaveMinVideo.get(), 0.0);
    EXPECT_EQ(model.whisperModel.get(), "medium");
    EXPECT_EQ(model.inputLanguage.get(), "auto");
    EXPECT_EQ(model.outputLanguage.get(), "en");
    EXPECT_EQ(model.geminiModel.get(), "gemini-1.5-flash");

    model.save();
    EXPECT_EQ(store.object("enableAutoMicDetection"), platform::SettingsValue(true));
    EXPECT_EQ(store.object("screenshotEmbedMaxWidth"), platform::SettingsValue(std::int64_t{0}));
    EXPECT_EQ(store.object("screenshotPollNormal"), platform::SettingsValue(0.0));
    EXPECT_EQ(store.object("audioDir"), platform::SettingsValue(""));        // empty text, not removed
    EXPECT_EQ(store.object("nightlyBatch"), platform::SettingsValue(false)); // its own key name
    EXPECT_FALSE(store.object("nightlyBatchEnabled").has_value());
    EXPECT_FALSE(store.object("audioDirBookmark").has_value());
    EXPECT_FALSE(store.object("liveSummaryEnabled").has_value());
}

TEST_F(AppSettingsViewModelStorageTest, StoredValuesComeBackUnchangedEvenOutsideTheFormsRanges) {
    store.set("outputLanguage", "klingon");
    store.set("nightlyBatchHour", std::int64_t{30});
    store.set("screenshotPollVideo", 99.5);
    store.set("screenshotEnabled", false);
    store.set("summaryPromptMode", "Preset");
    AppSettingsViewModel model(store);
    model.load();
    EXPECT_EQ(model.outputLanguage.get(), "klingon");
    EXPECT_EQ(model.nightlyBatchHour.get(), 30);
    EXPECT_EQ(model.screenshotPollVideo.get(), 99.5);
    EXPECT_FALSE(model.screenshotEnabled.get());
    EXPECT_EQ(model.summaryPromptMode.get(), "Preset");

    AppSettingsViewModel copy(store);
    copy.load();
    copy.save();
    EXPECT_EQ(store.object("outputLanguage"), platform::SettingsValue("klingon"));
    EXPECT_EQ(store.object("nightlyBatchHour"), platform::SettingsValue(std::int64_t{30}));
}

TEST_F(AppSettingsViewModelStorageTest, ObserversHearOnlyRealChanges) {
    AppSettingsViewModel model(store);
    int heard = 0;
    auto token = model.observe([&] { ++heard; });
    model.audioDir.set("");
    model.sessionRetentionDays.set(30);
    EXPECT_EQ(heard, 0);
    model.audioDir.set("/tmp");
    model.screenshotPollNormal.set(2.5);
    EXPECT_EQ(heard, 2);
    token.reset();
    model.audioDir.set("/var");
    EXPECT_EQ(heard, 2);
}

} // namespace
} // namespace velnote
