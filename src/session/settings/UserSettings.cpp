#include "session/settings/UserSettings.h"

#include "platform/text/Whitespace.h"
#include "session/config/PromptCatalog.h"
#include "session/l10n/L10n.h"

#include <algorithm>

namespace velnote {

using Key = UserDefaultsKey;

UserSettings::UserSettings(platform::SettingsStore& store) : defaults_(store) {}

void UserSettings::registerLaunchDefaults(platform::SettingsStore& store, std::string_view languageCode) {
    store.registerDefaults({{"outputLanguage", std::string(languageCode)}, {"enableVoiceProcessing", true}});
}

std::string UserSettings::stringOr(Key key, std::string_view absent) const {
    return defaults_.string(key).value_or(std::string(absent));
}

std::string UserSettings::trimmedOr(Key key, std::string_view absent) const {
    return defaults_.trimmedString(key).value_or(std::string(absent));
}

double UserSettings::positiveOr(Key key, double absent) const {
    const double value = defaults_.doubleValue(key);
    return value > 0 ? value : absent; // NaN is not above 0 either
}

std::string UserSettings::promptMode(Key key) const {
    return defaults_.string(key) == "custom" ? "custom" : "preset";
}

std::string UserSettings::promptPreset(Key key) const {
    const auto stored = defaults_.string(key);
    const auto options = PromptCatalog::options();
    const bool known = stored && std::any_of(options.begin(), options.end(), [&](const PromptOption& option) {
                           return option.id == *stored;
                       });
    return known ? *stored : "minutes";
}

std::string UserSettings::whisperModel() const {
    return stringOr(Key::whisperModel, "medium");
}
std::string UserSettings::transcriptionProvider() const {
    return stringOr(Key::transcriptionProvider, "local");
}
std::optional<std::string> UserSettings::transcriptionProviderModel() const {
    return defaults_.trimmedString(Key::transcriptionProviderModel);
}
std::optional<std::string> UserSettings::transcriptionProviderBaseURL() const {
    return defaults_.string(Key::transcriptionProviderBaseURL);
}
std::optional<std::string> UserSettings::inputLanguage() const {
    return defaults_.string(Key::inputLanguage);
}
std::string UserSettings::outputLanguage() const {
    return stringOr(Key::outputLanguage, L10n::defaultLanguageCode());
}
bool UserSettings::enableDiarization() const {
    return defaults_.boolean(Key::enableDiarization);
}
std::optional<std::int64_t> UserSettings::numberOfSpeakers() const {
    const std::int64_t count = defaults_.integer(Key::numberOfSpeakers);
    if (count < 1)
        return std::nullopt;
    return count;
}
bool UserSettings::realtimeEnabled() const {
    return defaults_.boolObject(Key::realtimeEnabled, true);
}

std::string UserSettings::summaryPromptMode() const {
    return promptMode(Key::summaryPromptMode);
}
std::string UserSettings::summaryPromptPreset() const {
    return promptPreset(Key::summaryPromptPreset);
}
std::optional<std::string> UserSettings::summaryPromptCustom() const {
    return defaults_.trimmedString(Key::summaryPromptCustom);
}
std::string UserSettings::intermediatePromptMode() const {
    return promptMode(Key::intermediatePromptMode);
}
std::string UserSettings::intermediatePromptPreset() const {
    return promptPreset(Key::intermediatePromptPreset);
}
std::optional<std::string> UserSettings::intermediatePromptCustom() const {
    return defaults_.trimmedString(Key::intermediatePromptCustom);
}
std::string UserSettings::localSummaryModel() const {
    return stringOr(Key::localSummaryModel, "qwen2.5-7b-instruct-mlx-4bit");
}
std::optional<std::string> UserSettings::localSummaryModelPath() const {
    return defaults_.trimmedString(Key::localSummaryModelPath);
}
bool UserSettings::preferDirectSummaryForLlamaCppLocal() const {
    return defaults_.boolObject(Key::preferDirectSummaryForLlamaCppLocal, false);
}
bool UserSettings::preferDirectSummaryForAppleLocalLLM() const {
    return defaults_.boolObject(Key::preferDirectSummaryForAppleLocalLLM, false);
}

std::string UserSettings::openAIModel() const {
    return trimmedOr(Key::openAIModel, "gpt-4.1-mini");
}
std::string UserSettings::openRouterModel() const {
    return trimmedOr(Key::openRouterModel, "nvidia/nemotron-3-nano-omni-30b-a3b-reasoning:free");
}
bool UserSettings::openRouterFreeOnly() const {
    return defaults_.boolean(Key::openRouterFreeOnly);
}
std::string UserSettings::copilotModel() const {
    return trimmedOr(Key::copilotModel, "gpt-4o-mini");
}
std::string UserSettings::claudeModel() const {
    return trimmedOr(Key::claudeModel, "claude-3-5-sonnet-latest");
}
std::string UserSettings::geminiModel() const {
    return trimmedOr(Key::geminiModel, "gemini-1.5-flash");
}
std::string UserSettings::ollamaModel() const {
    return trimmedOr(Key::ollamaModel, "llama3.2");
}
std::optional<std::string> UserSettings::geminiBaseURL() const {
    const auto stored = defaults_.store().string("geminiBaseURL");
    if (!stored)
        return std::nullopt;
    std::string trimmed = platform::trimWhitespace(*stored);
    if (trimmed.empty())
        return std::nullopt;
    return trimmed;
}

std::string UserSettings::claudeCLICommand() const {
    return stringOr(Key::claudeCLICommand, "claude");
}
std::optional<std::string> UserSettings::claudeCLIModel() const {
    return defaults_.trimmedString(Key::claudeCLIModel);
}
std::string UserSettings::copilotCLICommand() const {
    return stringOr(Key::copilotCLICommand, "copilot");
}
std::optional<std::string> UserSettings::copilotCLIModel() const {
    return defaults_.trimmedString(Key::copilotCLIModel);
}
bool UserSettings::copilotCLIUseACP() const {
    return defaults_.boolean(Key::copilotCLIUseACP);
}
std::string UserSettings::antigravityCLICommand() const {
    return stringOr(Key::antigravityCLICommand, "agy");
}
std::optional<std::string> UserSettings::antigravityCLIModel() const {
    return defaults_.trimmedString(Key::antigravityCLIModel);
}
std::string UserSettings::antigravityCLIArgs() const {
    return stringOr(Key::antigravityCLIArgs, "-p {prompt} --dangerously-skip-permissions");
}
std::string UserSettings::additionalPATH() const {
    return stringOr(Key::additionalPATH, "");
}

bool UserSettings::liveSummaryEnabled() const {
    return defaults_.boolObject(Key::liveSummaryEnabled, true);
}
std::int64_t UserSettings::liveSummaryIntervalMinutes() const {
    const std::int64_t minutes = defaults_.integer(Key::liveSummaryIntervalMinutes);
    return std::clamp<std::int64_t>(minutes < 1 ? 5 : minutes, 1, 60);
}
std::optional<std::string> UserSettings::liveSummaryPrompt() const {
    return defaults_.trimmedString(Key::liveSummaryPrompt);
}
std::optional<std::string> UserSettings::liveSummaryModelPath() const {
    return defaults_.trimmedString(Key::liveSummaryModelPath);
}
std::optional<std::string> UserSettings::liveSummaryOpenRouterModel() const {
    return defaults_.trimmedString(Key::liveSummaryOpenRouterModel);
}
bool UserSettings::liveSummaryOpenRouterFreeOnly() const {
    return defaults_.boolean(Key::liveSummaryOpenRouterFreeOnly);
}
std::optional<std::string> UserSettings::liveSummaryProviderModel() const {
    return defaults_.trimmedString(Key::liveSummaryProviderModel);
}

std::optional<std::string> UserSettings::micDeviceUID() const {
    return defaults_.trimmedString(Key::micDeviceUID);
}
double UserSettings::micInputGain() const {
    return positiveOr(Key::micInputGain, 1.0);
}
double UserSettings::sysInputGain() const {
    return positiveOr(Key::sysInputGain, 1.0);
}
bool UserSettings::enableVoiceProcessing() const {
    return defaults_.boolean(Key::enableVoiceProcessing);
}
bool UserSettings::enableAutoMicDetection() const {
    return defaults_.boolObject(Key::enableAutoMicDetection, true);
}

bool UserSettings::screenshotEnabled() const {
    return defaults_.boolObject(Key::screenshotEnabled, true);
}
std::int64_t UserSettings::screenshotDisplayIndex() const {
    return defaults_.integer(Key::screenshotDisplayIndex);
}
bool UserSettings::screenshotEmbedInSummaryEnabled() const {
    return defaults_.boolObject(Key::screenshotEmbedInSummaryEnabled, true);
}
std::int64_t UserSettings::screenshotEmbedMaxWidth() const {
    const std::int64_t width = defaults_.integer(Key::screenshotEmbedMaxWidth);
    return width == 320 || width == 640 || width == 960 ? width : 1280;
}
double UserSettings::screenshotPollNormal() const {
    return positiveOr(Key::screenshotPollNormal, 2);
}
double UserSettings::screenshotPollVideo() const {
    return positiveOr(Key::screenshotPollVideo, 4);
}
double UserSettings::screenshotSaveMinNormal() const {
    return positiveOr(Key::screenshotSaveMinNormal, 3);
}
double UserSettings::screenshotSaveMinVideo() const {
    return positiveOr(Key::screenshotSaveMinVideo, 20);
}
bool UserSettings::foregroundActivityTrackingEnabled() const {
    return defaults_.boolObject(Key::foregroundActivityTrackingEnabled, true);
}

std::optional<std::string> UserSettings::audioDir() const {
    return defaults_.string(Key::audioDir);
}
std::optional<platform::SettingsData> UserSettings::audioDirBookmark() const {
    return defaults_.data(Key::audioDirBookmark);
}
std::int64_t UserSettings::sessionRetentionDays() const {
    return defaults_.integer(Key::sessionRetentionDays);
}
bool UserSettings::nightlyBatch() const {
    return defaults_.boolean(Key::nightlyBatch);
}
std::int64_t UserSettings::nightlyBatchHour() const {
    const std::int64_t hour = defaults_.integer(Key::nightlyBatchHour);
    return hour < 0 || hour >= 24 ? 2 : hour;
}
std::optional<platform::SettingsDate> UserSettings::lastNightlyBatchDate() const {
    return defaults_.date(Key::lastNightlyBatchDate);
}
bool UserSettings::sessionNightlyBatchDefault() const {
    if (defaults_.object(Key::sessionNightlyBatchDefault))
        return defaults_.boolean(Key::sessionNightlyBatchDefault);
    return defaults_.boolObject(Key::nightlyBatch, false);
}
bool UserSettings::launchAtLogin() const {
    return defaults_.boolean(Key::launchAtLogin);
}

bool UserSettings::liveTranscriptDisplayInOutputLanguage() const {
    return defaults_.boolean(Key::liveTranscriptDisplayInOutputLanguage);
}
bool UserSettings::recordingFloatingCompactModeEnabled() const {
    return defaults_.boolean(Key::recordingFloatingCompactModeEnabled);
}
std::string UserSettings::recordingFloatingOpenSections() const {
    return stringOr(Key::recordingFloatingOpenSections, "volume");
}

} // namespace velnote
