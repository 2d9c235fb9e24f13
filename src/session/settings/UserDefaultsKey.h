#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace velnote {

// Every settings key of the application, in declaration order; the name of a
// case is the key under which its value is stored.
#define VELNOTE_USER_DEFAULTS_KEYS(X)                                                                        \
    X(additionalPATH)                                                                                        \
    X(audioDir)                                                                                              \
    X(audioDirBookmark)                                                                                      \
    X(claudeBaseURL)                                                                                         \
    X(claudeCLICommand)                                                                                      \
    X(claudeCLIModel)                                                                                        \
    X(claudeModel)                                                                                           \
    X(copilotBaseURL)                                                                                        \
    X(copilotCLIArgs)                                                                                        \
    X(copilotCLICommand)                                                                                     \
    X(copilotCLIModel)                                                                                       \
    X(copilotCLIUseACP)                                                                                      \
    X(copilotModel)                                                                                          \
    X(enableAutoMicDetection)                                                                                \
    X(enableDiarization)                                                                                     \
    X(enableVoiceProcessing)                                                                                 \
    X(foregroundActivityTrackingEnabled)                                                                     \
    X(antigravityCLIArgs)                                                                                    \
    X(antigravityCLICommand)                                                                                 \
    X(antigravityCLIModel)                                                                                   \
    X(inputLanguage)                                                                                         \
    X(intermediatePromptCustom)                                                                              \
    X(intermediatePromptMode)                                                                                \
    X(intermediatePromptPreset)                                                                              \
    X(launchAtLogin)                                                                                         \
    X(liveSummaryEnabled)                                                                                    \
    X(liveSummaryIntervalMinutes)                                                                            \
    X(liveSummaryModelPath)                                                                                  \
    X(liveSummaryOpenRouterFreeOnly)                                                                         \
    X(liveSummaryOpenRouterModel)                                                                            \
    X(liveSummaryPrompt)                                                                                     \
    X(liveSummaryProvider)                                                                                   \
    X(liveSummaryProviderModel)                                                                              \
    X(liveTranscriptDisplayInOutputLanguage)                                                                 \
    X(localSummaryModel)                                                                                     \
    X(localSummaryModelPath)                                                                                 \
    X(micDeviceUID)                                                                                          \
    X(micInputGain)                                                                                          \
    X(nightlyBatch)                                                                                          \
    X(nightlyBatchHour)                                                                                      \
    X(lastNightlyBatchDate)                                                                                  \
    X(numberOfSpeakers)                                                                                      \
    X(ollamaBaseURL)                                                                                         \
    X(ollamaModel)                                                                                           \
    X(openAIBaseURL)                                                                                         \
    X(openAIModel)                                                                                           \
    X(openRouterFreeOnly)                                                                                    \
    X(openRouterModel)                                                                                       \
    X(geminiModel)                                                                                           \
    X(outputLanguage)                                                                                        \
    X(preferDirectSummaryForAppleLocalLLM)                                                                   \
    X(preferDirectSummaryForLlamaCppLocal)                                                                   \
    X(realtimeEnabled)                                                                                       \
    X(recordingFloatingCompactModeEnabled)                                                                   \
    X(recordingFloatingOpenSections)                                                                         \
    X(remoteChunkConcurrency)                                                                                \
    X(screenshotDisplayIndex)                                                                                \
    X(screenshotEmbedInSummaryEnabled)                                                                       \
    X(screenshotEmbedMaxWidth)                                                                               \
    X(screenshotEnabled)                                                                                     \
    X(screenshotPollNormal)                                                                                  \
    X(screenshotPollVideo)                                                                                   \
    X(screenshotSaveMinNormal)                                                                               \
    X(screenshotSaveMinVideo)                                                                                \
    X(sessionNightlyBatchDefault)                                                                            \
    X(sessionRetentionDays)                                                                                  \
    X(summaryPrompt)                                                                                         \
    X(summaryPromptCustom)                                                                                   \
    X(summaryPromptMode)                                                                                     \
    X(summaryPromptPreset)                                                                                   \
    X(summaryProvider)                                                                                       \
    X(sysInputGain)                                                                                          \
    X(transcriptionProvider)                                                                                 \
    X(transcriptionProviderBaseURL)                                                                          \
    X(transcriptionProviderModel)                                                                            \
    X(whisperModel)

// The settings keys named by the application. Three more keys are used by
// their literal names only: "geminiBaseURL", "hallucinationFilterEntries" and
// "userDictionaryEntries".
enum class UserDefaultsKey {
#define VELNOTE_KEY_CASE(name) name,
    VELNOTE_USER_DEFAULTS_KEYS(VELNOTE_KEY_CASE)
#undef VELNOTE_KEY_CASE
};

#define VELNOTE_KEY_ONE(name) +1
inline constexpr std::size_t kUserDefaultsKeyCount = 0 VELNOTE_USER_DEFAULTS_KEYS(VELNOTE_KEY_ONE);
#undef VELNOTE_KEY_ONE

// The key under which the value is stored, e.g. "whisperModel"; parsed with
// platform::fromRawValue<UserDefaultsKey>.
std::string_view rawValue(UserDefaultsKey key);
// Every key in declaration order.
const std::array<UserDefaultsKey, kUserDefaultsKeyCount>& allUserDefaultsKeys();
inline const auto& allCases(UserDefaultsKey) {
    return allUserDefaultsKeys();
}

} // namespace velnote
