#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace diarith {

// One speaker embedding: a local speaker in one sliding window of one chunk. The embedder makes
// it; clustering sets clusterId; post-processing places it on the timeline.
struct SpeakerEmbedding {
    std::vector<float> embedding;                    // the embedder's output vector
    std::optional<std::vector<float>> pldaEmbedding; // its PLDA projection; absent without a PLDA model
    std::vector<float> activeFrames;                 // the speaker's activity per frame of the window
    std::int64_t windowIndex = 0;                    // window start in whole seconds of the audio
    std::int64_t speakerIndex = 0;                   // local speaker within the chunk
    std::int64_t clusterId = -1;                     // global speaker; −1 until clustered
    float nonOverlappedFrameRatio = 0.0f;            // share of the window's frames with this speaker alone
};

} // namespace diarith
