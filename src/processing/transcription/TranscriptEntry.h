#pragma once

#include <string>

namespace velnote {

// One transcript line.
struct TranscriptEntry {
    // Seconds from the recording start, narrowed from the segment's start; the
    // sort key, and the line's time is taken from this narrowed value.
    float startTime = 0;
    std::string text; // without label or time; goes to "transcript.raw.txt"
    std::string line; // as written to "transcript.txt", e.g. "[MIC 00:01:15] text"

    bool operator==(const TranscriptEntry&) const = default;
};

} // namespace velnote
