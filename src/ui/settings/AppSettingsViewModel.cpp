#include "ui/settings/AppSettingsViewModel.h"

#include "session/l10n/L10n.h"
#include "session/settings/UserDefaults.h"

namespace velnote {
namespace {

using Key = UserDefaultsKey;

// A switch the recording side treats as on while it has never been stored.
struct OnWhenMissing {};

} // namespace

AppSettingsViewModel::AppSettingsViewModel(platform::SettingsStore& defaults)
    : outputLanguage(observers_, L10n::defaultLanguageCode()), defaults_(&defaults) {}

template <class Self, class Visitor> void AppSettingsViewModel::visit(Self& s, Visitor&& v) {
    v(s.audioDir, Key::audioDir, "");
    v(s.sessionRetentionDays, Key::sessionRetentionDays);
    v(s.whisperModel, Key::whisperModel, "medium");
    v(s.transcriptionProvider, Key::transcriptionProvider, "local");
    v(s.transcriptionProviderModel, Key::transcriptionProviderModel, "");
    v(s.transcriptionProviderBaseURL, Key::transcriptionProviderBaseURL, "");
    v(s.inputLanguage, Key::inputLanguage, "auto");
    v(s.outputLanguage, Key::outputLanguage, L10n::defaultLanguageCode());
    v(s.enableDiarization, Key::enableDiarization);
    v(s.enableVoiceProcessing, Key::enableVoiceProcessing);
    v(s.numberOfSpeakers, Key::numberOfSpeakers);
    v(s.summaryProvider, Key::summaryProvider, "local");
    v(s.additionalPATH, Key::additionalPATH, "");
    v(s.summaryPromptMode, Key::summaryPromptMode, "preset");
    v(s.summaryPromptPreset, Key::summaryPromptPreset, "minutes");
    v(s.summaryPromptCustom, Key::summaryPromptCustom, "");
    v(s.intermediatePromptCustom, Key::intermediatePromptCustom, "");
    v(s.liveSummaryProvider, Key::liveSummaryProvider, "local");
    v(s.liveSummaryPrompt, Key::liveSummaryPrompt, "");
    v(s.enableAutoMicDetection, Key::enableAutoMicDetection, OnWhenMissing{});
    v(s.screenshotEnabled, Key::screenshotEnabled, OnWhenMissing{});
    v(s.foregroundActivityTrackingEnabled, Key::foregroundActivityTrackingEnabled, OnWhenMissing{});
    v(s.screenshotDisplayIndex, Key::screenshotDisplayIndex);
    v(s.screenshotEmbedInSummaryEnabled, Key::screenshotEmbedInSummaryEnabled, OnWhenMissing{});
    v(s.screenshotEmbedMaxWidth, Key::screenshotEmbedMaxWidth);
    v(s.screenshotPollNormal, Key::screenshotPollNormal);
    v(s.screenshotPollVideo, Key::screenshotPollVideo);
    v(s.screenshotSaveMinNormal, Key::screenshotSaveMinNormal);
    v(s.screenshotSaveMinVideo, Key::screenshotSaveMinVideo);
    v(s.launchAtLogin, Key::launchAtLogin);
    v(s.nightlyBatchEnabled, Key::nightlyBatch);
    v(s.nightlyBatchHour, Key::nightlyBatchHour);
    v(s.sessionNightlyBatchDefault, Key::sessionNightlyBatchDefault);
    v(s.remoteChunkConcurrency, Key::remoteChunkConcurrency);
    v(s.geminiModel, Key::geminiModel, "gemini-1.5-flash");
}

namespace {

struct Loader {
    const UserDefaults& defaults;

    void operator()(Observed<std::string>& value, Key key, const std::string& fallback) const {
        value.set(defaults.string(key).value_or(fallback));
    }
    void operator()(Observed<bool>& value, Key key, OnWhenMissing) const {
        value.set(defaults.boolObject(key, true));
    }
    void operator()(Observed<bool>& value, Key key) const { value.set(defaults.boolean(key)); }
    void operator()(Observed<std::int64_t>& value, Key key) const { value.set(defaults.integer(key)); }
    void operator()(Observed<double>& value, Key key) const { value.set(defaults.doubleValue(key)); }
};

struct Saver {
    const UserDefaults& defaults;

    template <class T, class... Rest>
    void operator()(const Observed<T>& value, Key key, const Rest&...) const {
        defaults.set(key, value.get());
    }
};

} // namespace

void AppSettingsViewModel::load() {
    const UserDefaults defaults(*defaults_);
    visit(*this, Loader{defaults});
}

void AppSettingsViewModel::save() const {
    const UserDefaults defaults(*defaults_);
    visit(*this, Saver{defaults});
}

} // namespace velnote
