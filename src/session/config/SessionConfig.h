#pragma once

// The settings frozen for one recording, stored under "config" in the
// session's "session.json". Plain values: copies are independent, equality is
// field by field, and the JSON coding does not validate values (keeping them
// sensible is the job of whoever fills them in and of the readers).
//
// JSON: one object per record, keys named like the fields. Optional fields
// with no value are left out (never null); a missing or null key of any other
// field fails the decoding, at every level; unknown keys are ignored.

#include "platform/json/Json.h"
#include "session/config/TranscriptionProvider.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velnote {
namespace platform {
class SettingsStore;
}

struct TranscriptionConfig {
    std::string whisperModel;            // on-device speech model name, e.g. "medium"
    std::optional<std::string> language; // code, alias or "auto" as stored in the settings; none = unset
    TranscriptionProvider provider = TranscriptionProvider::localWhisper;
    std::optional<std::string> providerModel;     // remote model as entered in the settings
    std::optional<std::string> providerBaseURL;   // none = the remote service's default endpoint
    bool realtimeEnabled = false;                 // a live transcript is written while recording
    bool diarizationEnabled = false;              // diarization runs inside the transcription step
    std::optional<std::int64_t> numberOfSpeakers; // none = automatic

    bool operator==(const TranscriptionConfig&) const = default;
};

struct SummaryConfig {
    std::string provider; // a SummaryProvider raw value, kept as text (unknown values survive)
    std::optional<std::string> promptKey; // "custom" or the preset the prompt came from
    std::string resolvedPrompt;
    std::optional<std::string> intermediatePromptKey;
    std::string intermediateResolvedPrompt; // prompt of the chunk notes
    std::string localModel;
    std::optional<std::string> localModelPath; // GGUF file for the llama.cpp provider
    std::optional<std::string> providerModel;  // none = the provider's own default
    std::optional<std::string> providerBaseURL;
    std::optional<std::string> cliCommand;
    std::optional<std::string> cliArgs; // "{prompt}" stands for the prompt
    bool preferDirectSummaryForLlamaCppLocal = false;
    bool preferDirectSummaryForAppleLocalLLM = false;
    std::string userNote; // empty when frozen from the settings

    bool operator==(const SummaryConfig&) const = default;
};

struct LiveSummaryConfig {
    bool enabled = false;
    std::int64_t intervalMinutes = 0; // between refreshes; 1 to 60 when frozen from the settings
    std::string provider;             // a SummaryProvider raw value
    std::string prompt;
    std::optional<std::string> modelPath; // GGUF file for the llama.cpp provider
    std::optional<std::string> providerModel;
    std::optional<std::string> providerBaseURL;

    bool operator==(const LiveSummaryConfig&) const = default;
};

struct AudioConfig {
    std::optional<std::string> micDeviceUID; // none = the system's default input
    double micInputGain = 0.0;               // linear gain factor
    double sysInputGain = 0.0;               // linear gain factor

    bool operator==(const AudioConfig&) const = default;
};

struct CaptureConfig {
    bool screenshotEnabled = false;
    std::int64_t screenshotDisplayIndex = 0;
    bool screenshotEmbedInSummaryEnabled = false;
    std::int64_t screenshotEmbedMaxWidth = 0;         // pixels; 320, 640, 960 or 1280 when frozen
    std::vector<std::string> ocrRecognitionLanguages; // in order of preference
    bool foregroundActivityTrackingEnabled = false;

    bool operator==(const CaptureConfig&) const = default;
};

struct SystemConfig {
    bool nightlyBatch = false; // left to the nightly run by the regular scans

    bool operator==(const SystemConfig&) const = default;
};

struct SessionConfig {
    std::string outputLanguage; // language of summaries and translations, e.g. "ja"
    TranscriptionConfig transcription;
    SummaryConfig summary;
    LiveSummaryConfig liveSummary;
    AudioConfig audio;
    CaptureConfig capture;
    SystemConfig system;

    // The settings of the moment frozen for a new recording: every value
    // defaulted, clamped and normalised, the summary prompts resolved through
    // the prompt catalogue and the providers' models, endpoints and commands
    // filled in. Never fails. Reads the standard settings store, the build
    // flavour held by BuildFlavor; `ocrSupportedLanguages` are the languages
    // the text recogniser has installed (the shell passes them in).
    static SessionConfig fromUserDefaults(const std::vector<std::string>& ocrSupportedLanguages);
    // The same from `defaults`.
    static SessionConfig fromUserDefaults(platform::SettingsStore& defaults,
                                          const std::vector<std::string>& ocrSupportedLanguages);

    bool operator==(const SessionConfig&) const = default;
};

// Decoding throws platform::JsonDecodeError naming the failing key path.
void to_json(platform::Json& j, const TranscriptionConfig& c);
void from_json(const platform::Json& j, TranscriptionConfig& c);
void to_json(platform::Json& j, const SummaryConfig& c);
void from_json(const platform::Json& j, SummaryConfig& c);
void to_json(platform::Json& j, const LiveSummaryConfig& c);
void from_json(const platform::Json& j, LiveSummaryConfig& c);
void to_json(platform::Json& j, const AudioConfig& c);
void from_json(const platform::Json& j, AudioConfig& c);
void to_json(platform::Json& j, const CaptureConfig& c);
void from_json(const platform::Json& j, CaptureConfig& c);
void to_json(platform::Json& j, const SystemConfig& c);
void from_json(const platform::Json& j, SystemConfig& c);
void to_json(platform::Json& j, const SessionConfig& c);
void from_json(const platform::Json& j, SessionConfig& c);

} // namespace velnote
