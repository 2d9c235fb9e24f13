#include "session/settings/UserSettings.h"

#include "support/TempDir.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>

namespace velnote {
namespace {

using platform::SettingsValue;
using Key = UserDefaultsKey;

std::string show(const std::string& value) {
    return value;
}
std::string show(const std::optional<std::string>& value) {
    return value ? *value : "<none>";
}
std::string show(bool value) {
    return value ? "true" : "false";
}
std::string show(std::int64_t value) {
    return std::to_string(value);
}
std::string show(const std::optional<std::int64_t>& value) {
    return value ? std::to_string(*value) : "<none>";
}
std::string show(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

using Reader = std::function<std::string(const UserSettings&)>;
#define READ(accessor) [](const UserSettings& s) { return show(s.accessor()); }

class UserSettingsTest : public ::testing::Test {
  protected:
    testing::TempDir dir_;
    platform::SettingsStore store_{dir_ / "settings.json"};
    UserSettings settings_{store_};
    UserDefaults defaults_{store_};
};

TEST_F(UserSettingsTest, AbsentKeysReadAsTheirDefaults) {
    const struct {
        const char* name;
        Reader read;
        const char* expected;
    } cases[] = {
        {"whisperModel", READ(whisperModel), "medium"},
        {"transcriptionProvider", READ(transcriptionProvider), "local"},
        {"transcriptionProviderModel", READ(transcriptionProviderModel), "<none>"},
        {"inputLanguage", READ(inputLanguage), "<none>"},
        {"enableDiarization", READ(enableDiarization), "false"},
        {"numberOfSpeakers", READ(numberOfSpeakers), "<none>"},
        {"realtimeEnabled", READ(realtimeEnabled), "true"},
        {"summaryPromptMode", READ(summaryPromptMode), "preset"},
        {"summaryPromptPreset", READ(summaryPromptPreset), "minutes"},
        {"intermediatePromptPreset", READ(intermediatePromptPreset), "minutes"},
        {"summaryPromptCustom", READ(summaryPromptCustom), "<none>"},
        {"localSummaryModel", READ(localSummaryModel), "qwen2.5-7b-instruct-mlx-4bit"},
        {"preferDirectSummaryForLlamaCppLocal", READ(preferDirectSummaryForLlamaCppLocal), "false"},
        {"openAIModel", READ(openAIModel), "gpt-4.1-mini"},
        {"openRouterModel", READ(openRouterModel), "nvidia/nemotron-3-nano-omni-30b-a3b-reasoning:free"},
        {"copilotModel", READ(copilotModel), "gpt-4o-mini"},
        {"claudeModel", READ(claudeModel), "claude-3-5-sonnet-latest"},
        {"geminiModel", READ(geminiModel), "gemini-1.5-flash"},
        {"ollamaModel", READ(ollamaModel), "llama3.2"},
        {"geminiBaseURL", READ(geminiBaseURL), "<none>"},
        {"claudeCLICommand", READ(claudeCLICommand), "claude"},
        {"claudeCLIModel", READ(claudeCLIModel), "<none>"},
        {"copilotCLICommand", READ(copilotCLICommand), "copilot"},
        {"antigravityCLICommand", READ(antigravityCLICommand), "agy"},
        {"antigravityCLIArgs", READ(antigravityCLIArgs), "-p {prompt} --dangerously-skip-permissions"},
        {"additionalPATH", READ(additionalPATH), ""},
        {"liveSummaryEnabled", READ(liveSummaryEnabled), "true"},
        {"liveSummaryIntervalMinutes", READ(liveSummaryIntervalMinutes), "5"},
        {"liveSummaryPrompt", READ(liveSummaryPrompt), "<none>"},
        {"micDeviceUID", READ(micDeviceUID), "<none>"},
        {"micInputGain", READ(micInputGain), "1"},
        {"sysInputGain", READ(sysInputGain), "1"},
        {"enableVoiceProcessing (not registered)", READ(enableVoiceProcessing), "false"},
        {"enableAutoMicDetection", READ(enableAutoMicDetection), "true"},
        {"screenshotEnabled", READ(screenshotEnabled), "true"},
        {"screenshotEmbedInSummaryEnabled", READ(screenshotEmbedInSummaryEnabled), "true"},
        {"screenshotEmbedMaxWidth", READ(screenshotEmbedMaxWidth), "1280"},
        {"screenshotPollNormal", READ(screenshotPollNormal), "2"},
        {"screenshotPollVideo", READ(screenshotPollVideo), "4"},
        {"screenshotSaveMinNormal", READ(screenshotSaveMinNormal), "3"},
        {"screenshotSaveMinVideo", READ(screenshotSaveMinVideo), "20"},
        {"foregroundActivityTrackingEnabled", READ(foregroundActivityTrackingEnabled), "true"},
        {"sessionRetentionDays", READ(sessionRetentionDays), "0"},
        {"nightlyBatch", READ(nightlyBatch), "false"},
        {"nightlyBatchHour", READ(nightlyBatchHour), "0"},
        {"sessionNightlyBatchDefault", READ(sessionNightlyBatchDefault), "false"},
        {"launchAtLogin", READ(launchAtLogin), "false"},
        {"recordingFloatingOpenSections", READ(recordingFloatingOpenSections), "volume"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.read(settings_), c.expected) << c.name;
    EXPECT_FALSE(settings_.lastNightlyBatchDate());
    EXPECT_FALSE(settings_.audioDirBookmark());
    EXPECT_FALSE(defaults_.boolean(Key::screenshotEnabled)) << "the typed read of an absent switch is false";
}

TEST_F(UserSettingsTest, StoredValuesAreTrimmedClampedAndCoerced) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* key;
        SettingsValue stored;
        Reader read;
        const char* expected;
    } cases[] = {
        {"liveSummaryIntervalMinutes", 0, READ(liveSummaryIntervalMinutes), "5"},
        {"liveSummaryIntervalMinutes", -3, READ(liveSummaryIntervalMinutes), "5"},
        {"liveSummaryIntervalMinutes", 1, READ(liveSummaryIntervalMinutes), "1"},
        {"liveSummaryIntervalMinutes", 90, READ(liveSummaryIntervalMinutes), "60"},
        {"liveSummaryIntervalMinutes", "15", READ(liveSummaryIntervalMinutes), "15"},
        {"screenshotEmbedMaxWidth", 640, READ(screenshotEmbedMaxWidth), "640"},
        {"screenshotEmbedMaxWidth", 800, READ(screenshotEmbedMaxWidth), "1280"},
        {"nightlyBatchHour", 23, READ(nightlyBatchHour), "23"},
        {"nightlyBatchHour", 24, READ(nightlyBatchHour), "2"},
        {"nightlyBatchHour", -1, READ(nightlyBatchHour), "2"},
        {"numberOfSpeakers", 0, READ(numberOfSpeakers), "<none>"},
        {"numberOfSpeakers", 3, READ(numberOfSpeakers), "3"},
        {"micInputGain", 0.0, READ(micInputGain), "1"},
        {"micInputGain", -2.0, READ(micInputGain), "1"},
        {"micInputGain", 2.5, READ(micInputGain), "2.5"},
        {"sysInputGain", nan, READ(sysInputGain), "1"},
        {"screenshotSaveMinVideo", 0.5, READ(screenshotSaveMinVideo), "0.5"},
        {"openAIModel", " \n ", READ(openAIModel), "gpt-4.1-mini"},
        {"openAIModel", "  gpt-5\n", READ(openAIModel), "gpt-5"},
        {"transcriptionProviderModel", "\twhisper-1 ", READ(transcriptionProviderModel), "whisper-1"},
        {"micDeviceUID", "   ", READ(micDeviceUID), "<none>"},
        {"liveSummaryPrompt", "\u3000Summarise\u3000", READ(liveSummaryPrompt), "Summarise"},
        {"geminiBaseURL", " https://example.test ", READ(geminiBaseURL), "https://example.test"},
        {"inputLanguage", " ja ", READ(inputLanguage), " ja "},
        {"antigravityCLIArgs", "", READ(antigravityCLIArgs), ""},
        {"summaryPromptMode", "custom", READ(summaryPromptMode), "custom"},
        {"summaryPromptMode", "Custom", READ(summaryPromptMode), "preset"},
        {"summaryPromptPreset", "seminar", READ(summaryPromptPreset), "seminar"},
        {"summaryPromptPreset", "Seminar", READ(summaryPromptPreset), "minutes"},
        {"intermediatePromptPreset", "worklog", READ(intermediatePromptPreset), "worklog"},
        // Switches read as objects take their default from anything but a bool.
        {"screenshotEnabled", false, READ(screenshotEnabled), "false"},
        {"screenshotEnabled", 0, READ(screenshotEnabled), "true"},
        {"realtimeEnabled", "NO", READ(realtimeEnabled), "true"},
        {"preferDirectSummaryForAppleLocalLLM", true, READ(preferDirectSummaryForAppleLocalLLM), "true"},
        {"preferDirectSummaryForAppleLocalLLM", 1, READ(preferDirectSummaryForAppleLocalLLM), "false"},
        // Switches read with the typed read follow its coercions.
        {"enableDiarization", "YES", READ(enableDiarization), "true"},
        {"launchAtLogin", 1, READ(launchAtLogin), "true"},
    };
    for (const auto& c : cases) {
        store_.set(c.key, c.stored);
        EXPECT_EQ(c.read(settings_), c.expected) << c.key << " = " << show(c.stored.coercedString());
        store_.remove(c.key);
    }
}

TEST_F(UserSettingsTest, SessionNightlyBatchDefaultFollowsTheNightlyBatchOnlyWhenAbsent) {
    const struct {
        std::optional<SettingsValue> nightly;
        std::optional<SettingsValue> sessionDefault;
        bool expected;
    } cases[] = {
        {true, std::nullopt, true},   {false, std::nullopt, false},
        {"YES", std::nullopt, false}, // the nightly switch is read as an object here
        {true, false, false},         {false, true, true},
        {std::nullopt, "1", true},
    };
    for (const auto& c : cases) {
        defaults_.setObject(Key::nightlyBatch, c.nightly);
        defaults_.setObject(Key::sessionNightlyBatchDefault, c.sessionDefault);
        EXPECT_EQ(settings_.sessionNightlyBatchDefault(), c.expected)
            << show(c.nightly ? c.nightly->coercedString() : std::nullopt) << " / "
            << show(c.sessionDefault ? c.sessionDefault->coercedString() : std::nullopt);
    }
}

TEST_F(UserSettingsTest, LaunchDefaultsGiveTheOutputLanguageUntilTheUserStoresOne) {
    for (const char* language : {"ja", "en"}) {
        platform::SettingsStore store(dir_ / (std::string(language) + ".json"));
        UserSettings::registerLaunchDefaults(store, language);
        const UserSettings settings(store);
        EXPECT_EQ(settings.outputLanguage(), language);
        EXPECT_TRUE(settings.enableVoiceProcessing());
        store.set("outputLanguage", "fr");
        EXPECT_EQ(settings.outputLanguage(), "fr");
    }
}

TEST_F(UserSettingsTest, KeyedReadsAndWritesUseTheRawValue) {
    defaults_.set(Key::additionalPATH, "/opt/bin");
    EXPECT_EQ(store_.string("additionalPATH"), "/opt/bin");
    defaults_.set(Key::micInputGain, 1.5);
    EXPECT_FLOAT_EQ(defaults_.floatValue(Key::micInputGain), 1.5f);
    EXPECT_EQ(defaults_.integer(Key::micInputGain), 1);

    defaults_.set(Key::recordingFloatingOpenSections, platform::SettingsArray{"volume", "transcript"});
    EXPECT_EQ(defaults_.stringArray(Key::recordingFloatingOpenSections),
              (std::vector<std::string>{"volume", "transcript"}));
    defaults_.set(Key::recordingFloatingOpenSections, platform::SettingsArray{"volume", 2});
    EXPECT_EQ(defaults_.stringArray(Key::recordingFloatingOpenSections), std::nullopt);

    defaults_.set(Key::ollamaBaseURL, "http://127.0.0.1:11434");
    EXPECT_EQ(defaults_.url(Key::ollamaBaseURL), "http://127.0.0.1:11434");
    defaults_.set(Key::ollamaBaseURL, 5);
    EXPECT_EQ(defaults_.url(Key::ollamaBaseURL), std::nullopt);

    defaults_.setObject(Key::ollamaBaseURL, std::nullopt);
    EXPECT_FALSE(store_.object("ollamaBaseURL"));
}

} // namespace
} // namespace velnote
