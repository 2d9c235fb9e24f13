#pragma once

#include "platform/settings/SettingsStore.h"
#include "ui/settings/Observed.h"

#include <cstdint>
#include <string>

namespace velnote {

// The editable copy of the general settings the preferences window shows: 35 values, each stored
// under its own key ("nightlyBatch" for nightlyBatchEnabled). Nothing reaches the store until
// save(); values are kept as they are, without trimming or clamping (the form's ranges and the
// window's checks are applied outside). Provider models, keys and URLs are the provider settings'
// business, the folder bookmark the window's. Main thread only.
class AppSettingsViewModel {
  public:
    // The built-in values below; reads nothing.
    explicit AppSettingsViewModel(platform::SettingsStore& defaults);

    // Every value from the store. Texts missing from it take their fixed fallback; the switches
    // of microphone detection, screenshots, activity tracking and embedding read as on; other
    // values take the store's typed read (false, 0, 0.0 or a registered default).
    void load();
    // Every value to the store, empty texts included; nothing removed, nothing announced.
    void save() const;

    [[nodiscard]] platform::ObserverToken observe(std::function<void()> observer) {
        return observers_.observe(std::move(observer));
    }

  private:
    ChangeObservers observers_; // first: the values below refer to it

  public:
    Observed<std::string> audioDir{observers_, ""};
    Observed<std::int64_t> sessionRetentionDays{observers_, 30};
    Observed<std::string> whisperModel{observers_, "medium"};
    Observed<std::string> transcriptionProvider{observers_, "local"};
    Observed<std::string> transcriptionProviderModel{observers_, ""};
    Observed<std::string> transcriptionProviderBaseURL{observers_, ""};
    Observed<std::string> inputLanguage{observers_, "auto"};
    Observed<std::string> outputLanguage;
    Observed<bool> enableDiarization{observers_, false};
    Observed<bool> enableVoiceProcessing{observers_, true};
    Observed<std::int64_t> numberOfSpeakers{observers_, 0};
    Observed<std::string> summaryProvider{observers_, "local"};
    Observed<std::string> additionalPATH{observers_, ""};
    Observed<std::string> summaryPromptMode{observers_, "preset"};
    Observed<std::string> summaryPromptPreset{observers_, "minutes"};
    Observed<std::string> summaryPromptCustom{observers_, ""};
    Observed<std::string> intermediatePromptCustom{observers_, ""};
    Observed<std::string> liveSummaryProvider{observers_, "local"};
    Observed<std::string> liveSummaryPrompt{observers_, ""};
    Observed<bool> enableAutoMicDetection{observers_, true};
    Observed<bool> screenshotEnabled{observers_, true};
    Observed<bool> foregroundActivityTrackingEnabled{observers_, true};
    Observed<std::int64_t> screenshotDisplayIndex{observers_, 0};
    Observed<bool> screenshotEmbedInSummaryEnabled{observers_, true};
    Observed<std::int64_t> screenshotEmbedMaxWidth{observers_, 1280};
    Observed<double> screenshotPollNormal{observers_, 2.0};    // seconds
    Observed<double> screenshotPollVideo{observers_, 4.0};     // seconds
    Observed<double> screenshotSaveMinNormal{observers_, 3.0}; // seconds
    Observed<double> screenshotSaveMinVideo{observers_, 20.0}; // seconds
    Observed<bool> launchAtLogin{observers_, false};
    Observed<bool> nightlyBatchEnabled{observers_, false};
    Observed<std::int64_t> nightlyBatchHour{observers_, 2}; // hour of the day
    Observed<bool> sessionNightlyBatchDefault{observers_, false};
    Observed<std::int64_t> remoteChunkConcurrency{observers_, 4};
    Observed<std::string> geminiModel{observers_, "gemini-1.5-flash"};

  private:
    // Calls `visitor` with every value and its key (a text also with its fallback), in order.
    template <class Self, class Visitor> static void visit(Self& self, Visitor&& visitor);

    platform::SettingsStore* defaults_;
};

} // namespace velnote
