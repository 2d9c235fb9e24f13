#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace velnote {

// The result of a successful transcription run.
struct SessionTranscriptionOutput {
    std::filesystem::path transcriptPath;             // the written "transcript.txt"
    std::optional<std::filesystem::path> summaryPath; // a transcription run leaves it absent
    // Diarization was asked for but failed, so the lines carry no speakers: the back-end's error
    // text. Absent when it succeeded or was not asked for.
    std::optional<std::string> diarizationFailure;

    bool operator==(const SessionTranscriptionOutput&) const = default;
};

} // namespace velnote
