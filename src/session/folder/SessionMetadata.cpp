#include "session/folder/SessionMetadata.h"

namespace velnote {
using platform::Json;
using platform::optional;
using platform::required;
using platform::setIfPresent;
using std::chrono::sys_seconds;

SessionMetadata SessionMetadata::initial(const SessionConfig& config, const platform::Clock& clock) {
    SessionMetadata m;
    m.version = 1;
    m.createdAt = std::chrono::floor<std::chrono::seconds>(clock.wallNow());
    m.buildInfo = SessionBuildInfo::current(clock);
    m.steps.transcription = StepState::fresh(StepStatus::pending);
    m.applyConfig(config);
    return m;
}

void SessionMetadata::applyConfig(const SessionConfig& newConfig) {
    config = newConfig;
    steps.diarization = StepState::fresh(newConfig.transcription.diarizationEnabled ? StepStatus::pending
                                                                                    : StepStatus::skipped);
    steps.summary =
        StepState::fresh(newConfig.summary.provider.empty() ? StepStatus::skipped : StepStatus::pending);
}

void to_json(Json& j, const SessionSteps& s) {
    j = Json::object();
    j["transcription"] = s.transcription;
    j["diarization"] = s.diarization;
    j["summary"] = s.summary;
}

void from_json(const Json& j, SessionSteps& s) {
    s.transcription = required<StepState>(j, "transcription");
    s.diarization = required<StepState>(j, "diarization");
    s.summary = required<StepState>(j, "summary");
}

void to_json(Json& j, const SessionMetadata& m) {
    j = Json::object();
    j["version"] = m.version;
    j["createdAt"] = m.createdAt;
    j["config"] = m.config;
    setIfPresent(j, "buildInfo", m.buildInfo);
    j["steps"] = m.steps;
    setIfPresent(j, "summaryHeadline", m.summaryHeadline);
    j["summaryFallbackOccurred"] = m.summaryFallbackOccurred;
    setIfPresent(j, "summaryFallbackDetails", m.summaryFallbackDetails);
    setIfPresent(j, "recordingDuration", m.recordingDuration);
    j["manuallyStopped"] = m.manuallyStopped;
    j["mediaFilesDeleted"] = m.mediaFilesDeleted;
    setIfPresent(j, "completionNotificationSentAt", m.completionNotificationSentAt);
}

void from_json(const Json& j, SessionMetadata& m) {
    m.version = required<std::int64_t>(j, "version");
    m.createdAt = required<sys_seconds>(j, "createdAt");
    m.config = required<SessionConfig>(j, "config");
    m.buildInfo = optional<SessionBuildInfo>(j, "buildInfo");
    m.steps = required<SessionSteps>(j, "steps");
    m.summaryHeadline = optional<std::string>(j, "summaryHeadline");
    m.summaryFallbackOccurred = optional<bool>(j, "summaryFallbackOccurred").value_or(false);
    m.summaryFallbackDetails = optional<std::string>(j, "summaryFallbackDetails");
    m.recordingDuration = optional<double>(j, "recordingDuration");
    m.manuallyStopped = optional<bool>(j, "manuallyStopped").value_or(false);
    m.mediaFilesDeleted = optional<bool>(j, "mediaFilesDeleted").value_or(false);
    m.completionNotificationSentAt = optional<sys_seconds>(j, "completionNotificationSentAt");
}

} // namespace velnote
