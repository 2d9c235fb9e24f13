#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace velnote {

// One stream of audio chunks handed to a speech back-end.
struct AudioSourceTrack {
    // "mix" (microphone and system audio mixed), "mic" or "sys"; upper-cased it
    // labels the transcript lines when a run has several tracks.
    std::string source;
    // WAV chunks in ascending file-name order, which is recording order.
    std::vector<std::filesystem::path> chunkPaths;

    bool operator==(const AudioSourceTrack&) const = default;
};

} // namespace velnote
