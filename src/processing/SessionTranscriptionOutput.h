#pragma once

#include <filesystem>
#include <optional>

namespace velnote {

// The result of a successful transcription run.
struct SessionTranscriptionOutput {
    std::filesystem::path transcriptPath;             // the written "transcript.txt"
    std::optional<std::filesystem::path> summaryPath; // a transcription run leaves it absent

    bool operator==(const SessionTranscriptionOutput&) const = default;
};

} // namespace velnote
