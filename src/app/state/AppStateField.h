#pragma once

#include <cstddef>

namespace velnote {

// The observable fields of AppState, in declaration order. The last eleven are its private
// bookkeeping of meters and section buffers; they notify like the others, so a reader of a
// buffer's `latest` is refreshed on every update, shown or not.
enum class AppStateField {
    recordingState,
    recordingStartedAt,
    micInputLevel,
    sysInputLevel,
    micInputGain,
    sysInputGain,
    micMuted,
    sysMuted,
    lastTranscriptPath,
    lastSummaryPath,
    statusMessage,
    processingSessionCount,
    sessionSnapshots,
    expandedSessionID,
    liveTranscriptLines,
    liveTranscriptPendingText,
    liveTranscriptPending,
    liveTranscriptError,
    liveSummary,
    liveSummaryPending,
    liveSummaryError,
    liveSummaryEnabled,
    liveSummaryIntervalMinutes,
    captureRegion,
    liveActivity,
    isRecordingFloatingWindowVisible,
    activeSessionDir,
    activeSessionConfig,
    lastMicLevelPublishedAt,
    lastSysLevelPublishedAt,
    audioMeterEnabled,
    transcriptLinesBuffer,
    transcriptPendingTextBuffer,
    transcriptPendingBuffer,
    transcriptErrorBuffer,
    summaryBuffer,
    summaryPendingBuffer,
    summaryErrorBuffer,
    activityBuffer,
};

inline constexpr std::size_t kAppStateFieldCount =
    static_cast<std::size_t>(AppStateField::activityBuffer) + 1;

} // namespace velnote
