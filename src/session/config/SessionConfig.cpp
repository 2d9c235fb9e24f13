#include "session/config/SessionConfig.h"

namespace velnote {
using platform::Json;
using platform::optional;
using platform::required;
using platform::setIfPresent;

void to_json(Json& j, const TranscriptionConfig& c) {
    j = Json::object();
    j["whisperModel"] = c.whisperModel;
    setIfPresent(j, "language", c.language);
    j["provider"] = c.provider;
    setIfPresent(j, "providerModel", c.providerModel);
    setIfPresent(j, "providerBaseURL", c.providerBaseURL);
    j["realtimeEnabled"] = c.realtimeEnabled;
    j["diarizationEnabled"] = c.diarizationEnabled;
    setIfPresent(j, "numberOfSpeakers", c.numberOfSpeakers);
}

void from_json(const Json& j, TranscriptionConfig& c) {
    c.whisperModel = required<std::string>(j, "whisperModel");
    c.language = optional<std::string>(j, "language");
    c.provider = required<TranscriptionProvider>(j, "provider");
    c.providerModel = optional<std::string>(j, "providerModel");
    c.providerBaseURL = optional<std::string>(j, "providerBaseURL");
    c.realtimeEnabled = required<bool>(j, "realtimeEnabled");
    c.diarizationEnabled = required<bool>(j, "diarizationEnabled");
    c.numberOfSpeakers = optional<std::int64_t>(j, "numberOfSpeakers");
}

void to_json(Json& j, const SummaryConfig& c) {
    j = Json::object();
    j["provider"] = c.provider;
    setIfPresent(j, "promptKey", c.promptKey);
    j["resolvedPrompt"] = c.resolvedPrompt;
    setIfPresent(j, "intermediatePromptKey", c.intermediatePromptKey);
    j["intermediateResolvedPrompt"] = c.intermediateResolvedPrompt;
    j["localModel"] = c.localModel;
    setIfPresent(j, "localModelPath", c.localModelPath);
    setIfPresent(j, "providerModel", c.providerModel);
    setIfPresent(j, "providerBaseURL", c.providerBaseURL);
    setIfPresent(j, "cliCommand", c.cliCommand);
    setIfPresent(j, "cliArgs", c.cliArgs);
    j["preferDirectSummaryForLlamaCppLocal"] = c.preferDirectSummaryForLlamaCppLocal;
    j["preferDirectSummaryForAppleLocalLLM"] = c.preferDirectSummaryForAppleLocalLLM;
    j["userNote"] = c.userNote;
}

void from_json(const Json& j, SummaryConfig& c) {
    c.provider = required<std::string>(j, "provider");
    c.promptKey = optional<std::string>(j, "promptKey");
    c.resolvedPrompt = required<std::string>(j, "resolvedPrompt");
    c.intermediatePromptKey = optional<std::string>(j, "intermediatePromptKey");
    c.intermediateResolvedPrompt = required<std::string>(j, "intermediateResolvedPrompt");
    c.localModel = required<std::string>(j, "localModel");
    c.localModelPath = optional<std::string>(j, "localModelPath");
    c.providerModel = optional<std::string>(j, "providerModel");
    c.providerBaseURL = optional<std::string>(j, "providerBaseURL");
    c.cliCommand = optional<std::string>(j, "cliCommand");
    c.cliArgs = optional<std::string>(j, "cliArgs");
    c.preferDirectSummaryForLlamaCppLocal = required<bool>(j, "preferDirectSummaryForLlamaCppLocal");
    c.preferDirectSummaryForAppleLocalLLM = required<bool>(j, "preferDirectSummaryForAppleLocalLLM");
    c.userNote = required<std::string>(j, "userNote");
}

void to_json(Json& j, const LiveSummaryConfig& c) {
    j = Json::object();
    j["enabled"] = c.enabled;
    j["intervalMinutes"] = c.intervalMinutes;
    j["provider"] = c.provider;
    j["prompt"] = c.prompt;
    setIfPresent(j, "modelPath", c.modelPath);
    setIfPresent(j, "providerModel", c.providerModel);
    setIfPresent(j, "providerBaseURL", c.providerBaseURL);
}

void from_json(const Json& j, LiveSummaryConfig& c) {
    c.enabled = required<bool>(j, "enabled");
    c.intervalMinutes = required<std::int64_t>(j, "intervalMinutes");
    c.provider = required<std::string>(j, "provider");
    c.prompt = required<std::string>(j, "prompt");
    c.modelPath = optional<std::string>(j, "modelPath");
    c.providerModel = optional<std::string>(j, "providerModel");
    c.providerBaseURL = optional<std::string>(j, "providerBaseURL");
}

void to_json(Json& j, const AudioConfig& c) {
    j = Json::object();
    setIfPresent(j, "micDeviceUID", c.micDeviceUID);
    j["micInputGain"] = c.micInputGain;
    j["sysInputGain"] = c.sysInputGain;
}

void from_json(const Json& j, AudioConfig& c) {
    c.micDeviceUID = optional<std::string>(j, "micDeviceUID");
    c.micInputGain = required<double>(j, "micInputGain");
    c.sysInputGain = required<double>(j, "sysInputGain");
}

void to_json(Json& j, const CaptureConfig& c) {
    j = Json::object();
    j["screenshotEnabled"] = c.screenshotEnabled;
    j["screenshotDisplayIndex"] = c.screenshotDisplayIndex;
    j["screenshotEmbedInSummaryEnabled"] = c.screenshotEmbedInSummaryEnabled;
    j["screenshotEmbedMaxWidth"] = c.screenshotEmbedMaxWidth;
    j["ocrRecognitionLanguages"] = c.ocrRecognitionLanguages;
    j["foregroundActivityTrackingEnabled"] = c.foregroundActivityTrackingEnabled;
}

void from_json(const Json& j, CaptureConfig& c) {
    c.screenshotEnabled = required<bool>(j, "screenshotEnabled");
    c.screenshotDisplayIndex = required<std::int64_t>(j, "screenshotDisplayIndex");
    c.screenshotEmbedInSummaryEnabled = required<bool>(j, "screenshotEmbedInSummaryEnabled");
    c.screenshotEmbedMaxWidth = required<std::int64_t>(j, "screenshotEmbedMaxWidth");
    c.ocrRecognitionLanguages = required<std::vector<std::string>>(j, "ocrRecognitionLanguages");
    c.foregroundActivityTrackingEnabled = required<bool>(j, "foregroundActivityTrackingEnabled");
}

void to_json(Json& j, const SystemConfig& c) {
    j = Json::object();
    j["nightlyBatch"] = c.nightlyBatch;
}

void from_json(const Json& j, SystemConfig& c) {
    c.nightlyBatch = required<bool>(j, "nightlyBatch");
}

void to_json(Json& j, const SessionConfig& c) {
    j = Json::object();
    j["outputLanguage"] = c.outputLanguage;
    j["transcription"] = c.transcription;
    j["summary"] = c.summary;
    j["liveSummary"] = c.liveSummary;
    j["audio"] = c.audio;
    j["capture"] = c.capture;
    j["system"] = c.system;
}

void from_json(const Json& j, SessionConfig& c) {
    c.outputLanguage = required<std::string>(j, "outputLanguage");
    c.transcription = required<TranscriptionConfig>(j, "transcription");
    c.summary = required<SummaryConfig>(j, "summary");
    c.liveSummary = required<LiveSummaryConfig>(j, "liveSummary");
    c.audio = required<AudioConfig>(j, "audio");
    c.capture = required<CaptureConfig>(j, "capture");
    c.system = required<SystemConfig>(j, "system");
}

} // namespace velnote
