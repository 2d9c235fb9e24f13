#pragma once

#include "session/config/SessionConfig.h"

#include <string>

namespace velnote::testing {

// Every field of a configuration set, with values that differ from the defaults.
inline SessionConfig sampleConfig() {
    SessionConfig c;
    c.outputLanguage = "ja";
    c.transcription = {
        "medium", "auto", TranscriptionProvider::openAI, "whisper-1", "http://127.0.0.1:9/v1", true, true, 3};
    c.summary.provider = "openai";
    c.summary.promptKey = "minutes";
    c.summary.resolvedPrompt = "Summarise.";
    c.summary.intermediatePromptKey = "custom";
    c.summary.intermediateResolvedPrompt = "Take notes.";
    c.summary.localModel = "qwen";
    c.summary.localModelPath = "/models/q.gguf";
    c.summary.providerModel = "gpt-4o";
    c.summary.providerBaseURL = "http://127.0.0.1:9";
    c.summary.cliCommand = "tool";
    c.summary.cliArgs = "-p {prompt}";
    c.summary.preferDirectSummaryForLlamaCppLocal = true;
    c.summary.preferDirectSummaryForAppleLocalLLM = true;
    c.summary.userNote = "note";
    c.liveSummary = {true, 5, "local", "Live.", "/models/l.gguf", "m", "http://127.0.0.1:9"};
    c.audio = {"usb-mic", 1.5, 0.75};
    c.capture = {true, 1, true, 640, {"ja-JP", "en-US"}, true};
    c.system.nightlyBatch = true;
    return c;
}

// A "session.json" as another build might have left it: every optional key
// present, plus keys this build does not know.
inline std::string sampleMetadataJson() {
    return R"({
  "version": 1,
  "createdAt": "2025-01-31T09:15:00Z",
  "futureTopLevel": {"a": 1},
  "buildInfo": {"bundleIdentifier": "io.hushtape.velnote", "version": "0.9", "buildNumber": "12",
                "buildDate": "2025-01-31T09:15:01Z", "isAppStoreBuild": false},
  "config": {
    "outputLanguage": "ja",
    "transcription": {"whisperModel": "medium", "provider": "local", "realtimeEnabled": true,
                      "diarizationEnabled": true, "numberOfSpeakers": null},
    "summary": {"provider": "openai", "resolvedPrompt": "p", "intermediateResolvedPrompt": "i",
                "localModel": "qwen", "preferDirectSummaryForLlamaCppLocal": false,
                "preferDirectSummaryForAppleLocalLLM": false, "userNote": ""},
    "liveSummary": {"enabled": false, "intervalMinutes": 5, "provider": "local", "prompt": "l"},
    "audio": {"micInputGain": 1.0, "sysInputGain": 1},
    "capture": {"screenshotEnabled": false, "screenshotDisplayIndex": 0,
                "screenshotEmbedInSummaryEnabled": false, "screenshotEmbedMaxWidth": 640,
                "ocrRecognitionLanguages": [], "foregroundActivityTrackingEnabled": false},
    "system": {"nightlyBatch": false}
  },
  "steps": {
    "transcription": {"status": "done", "startedAt": "2025-01-31T10:00:00Z",
                      "completedAt": "2025-01-31T10:05:00Z", "retryCount": 1, "stepExtra": true},
    "diarization": {"status": "skipped", "retryCount": 0},
    "summary": {"status": "failed", "error": "timeout", "retryCount": 2}
  },
  "summaryHeadline": "Weekly sync",
  "summaryFallbackOccurred": true,
  "summaryFallbackDetails": "direct summary failed",
  "recordingDuration": 1234.5,
  "manuallyStopped": false,
  "mediaFilesDeleted": false,
  "completionNotificationSentAt": "2025-01-31T10:06:00Z"
})";
}

} // namespace velnote::testing
