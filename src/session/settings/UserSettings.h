#pragma once

#include "session/settings/UserDefaults.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velnote {

// The settings with the value each one reads as when it is absent, trimmed or
// out of range, as the session configuration and the runtime readers use them
// (the preferences window shows a few switches differently; see there).
// Switches whose default is on are read as objects (a stored non-bool gives
// the default); switches whose default is off use the typed bool read.
// "Trimmed" strings lose white space and newlines at both ends, and an empty
// result counts as absent. Provider names are normalised where the session
// configuration is frozen, not here.
class UserSettings {
  public:
    explicit UserSettings(platform::SettingsStore& store = platform::SettingsStore::standard());

    const UserDefaults& defaults() const { return defaults_; }

    // The two defaults registered at launch: "outputLanguage" = `languageCode`
    // (L10n::defaultLanguageCode()) and "enableVoiceProcessing" = true.
    static void registerLaunchDefaults(platform::SettingsStore& store, std::string_view languageCode);

    // Speech and transcription.
    std::string whisperModel() const;                                // "medium"
    std::string transcriptionProvider() const;                       // "local"
    std::optional<std::string> transcriptionProviderModel() const;   // trimmed
    std::optional<std::string> transcriptionProviderBaseURL() const; // as stored
    std::optional<std::string> inputLanguage() const;                // as stored; none = unset
    std::string outputLanguage() const;                              // L10n::defaultLanguageCode()
    bool enableDiarization() const;                                  // false
    std::optional<std::int64_t> numberOfSpeakers() const;            // below 1 = none (automatic)
    bool realtimeEnabled() const;                                    // true

    // Summary prompts.
    std::string summaryPromptMode() const;                       // "preset" unless exactly "custom"
    std::string summaryPromptPreset() const;                     // a catalogue id, else "minutes"
    std::optional<std::string> summaryPromptCustom() const;      // trimmed
    std::string intermediatePromptMode() const;                  // as summaryPromptMode
    std::string intermediatePromptPreset() const;                // as summaryPromptPreset
    std::optional<std::string> intermediatePromptCustom() const; // trimmed
    std::string localSummaryModel() const;                       // "qwen2.5-7b-instruct-mlx-4bit"
    std::optional<std::string> localSummaryModelPath() const;    // trimmed
    bool preferDirectSummaryForLlamaCppLocal() const;            // false, read as an object
    bool preferDirectSummaryForAppleLocalLLM() const;            // false, read as an object

    // Remote providers: the model trimmed, with the default for absent or blank.
    std::string openAIModel() const;                  // "gpt-4.1-mini"
    std::string openRouterModel() const;              // "nvidia/nemotron-3-nano-omni-30b-a3b-reasoning:free"
    bool openRouterFreeOnly() const;                  // false
    std::string copilotModel() const;                 // "gpt-4o-mini"
    std::string claudeModel() const;                  // "claude-3-5-sonnet-latest"
    std::string geminiModel() const;                  // "gemini-1.5-flash"
    std::string ollamaModel() const;                  // "llama3.2"
    std::optional<std::string> geminiBaseURL() const; // literal key "geminiBaseURL", trimmed

    // Command-line AI tools.
    std::string claudeCLICommand() const;                   // "claude"
    std::optional<std::string> claudeCLIModel() const;      // trimmed; none = no model option
    std::string copilotCLICommand() const;                  // "copilot"
    std::optional<std::string> copilotCLIModel() const;     // trimmed
    bool copilotCLIUseACP() const;                          // false
    std::string antigravityCLICommand() const;              // "agy"
    std::optional<std::string> antigravityCLIModel() const; // trimmed
    std::string antigravityCLIArgs() const;                 // as stored ("" stays); absent: the template
    std::string additionalPATH() const;                     // ""

    // Live summary.
    bool liveSummaryEnabled() const;                               // true
    std::int64_t liveSummaryIntervalMinutes() const;               // below 1 gives 5, then clamped to 1...60
    std::optional<std::string> liveSummaryPrompt() const;          // trimmed; none = the built-in prompt
    std::optional<std::string> liveSummaryModelPath() const;       // trimmed
    std::optional<std::string> liveSummaryOpenRouterModel() const; // trimmed
    bool liveSummaryOpenRouterFreeOnly() const;                    // false
    std::optional<std::string> liveSummaryProviderModel() const;   // trimmed

    // Audio.
    std::optional<std::string> micDeviceUID() const; // trimmed; none = default input device
    double micInputGain() const;                     // 1.0 for any value not above 0
    double sysInputGain() const;                     // 1.0 for any value not above 0
    bool enableVoiceProcessing() const;              // registered true at launch
    bool enableAutoMicDetection() const;             // true

    // Screen capture and activity; durations in seconds.
    bool screenshotEnabled() const;                 // true
    std::int64_t screenshotDisplayIndex() const;    // 0
    bool screenshotEmbedInSummaryEnabled() const;   // true
    std::int64_t screenshotEmbedMaxWidth() const;   // 320, 640, 960 kept; anything else 1280
    double screenshotPollNormal() const;            // 2 for any value not above 0
    double screenshotPollVideo() const;             // 4 for any value not above 0
    double screenshotSaveMinNormal() const;         // 3 for any value not above 0
    double screenshotSaveMinVideo() const;          // 20 for any value not above 0
    bool foregroundActivityTrackingEnabled() const; // true

    // Storage and schedule.
    std::optional<std::string> audioDir() const;
    std::optional<platform::SettingsData> audioDirBookmark() const;
    std::int64_t sessionRetentionDays() const;                          // 0; 0 or less keeps every session
    bool nightlyBatch() const;                                          // false
    std::int64_t nightlyBatchHour() const;                              // 0; 24 or more and negatives give 2
    std::optional<platform::SettingsDate> lastNightlyBatchDate() const; // none = never run
    bool sessionNightlyBatchDefault() const; // absent: nightlyBatch read as an object
    bool launchAtLogin() const;              // false

    // Recording window.
    bool liveTranscriptDisplayInOutputLanguage() const; // false
    bool recordingFloatingCompactModeEnabled() const;   // false
    std::string recordingFloatingOpenSections() const;  // "volume"

  private:
    std::string stringOr(UserDefaultsKey key, std::string_view absent) const;
    std::string trimmedOr(UserDefaultsKey key, std::string_view absent) const;
    double positiveOr(UserDefaultsKey key, double absent) const;
    std::string promptMode(UserDefaultsKey key) const;
    std::string promptPreset(UserDefaultsKey key) const;

    UserDefaults defaults_;
};

} // namespace velnote
