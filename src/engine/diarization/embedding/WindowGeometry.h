#pragma once

#include <cstdint>
#include <vector>

namespace diarith {

// Where the frames of a chunk's sliding windows lie: W windows of F frames, S local speakers, the
// windows spread evenly over the chunk. All arithmetic in 32-bit floats, as the models give it.
struct WindowGeometry {
    std::int64_t windowsCount = 0;    // W
    std::int64_t framesPerWindow = 0; // F
    std::int64_t speakers = 0;        // S
    float secondsPerWindow = 0.0f;
    float secondsPerChunk = 30.0f;

    // Seconds between window starts; 0 for fewer than two windows.
    float windowStep() const;
    float frameDuration() const { return secondsPerWindow / static_cast<float>(framesPerWindow); }
    // Columns of the chunk's frame grid: trunc(secondsPerChunk × F / secondsPerWindow); 0 for a
    // grid that has no finite size.
    std::int64_t framesPerChunk() const;
    // Row w: the grid column of each frame of window w. At most W rows (only they are read); fewer,
    // or none, when the geometry does not place every window.
    std::vector<std::vector<std::int64_t>> chunkIndices() const;

    // Throws DiarithError::invalidModelOutput naming the first value that would put a frame, a mask
    // row or an embedding row outside its array: fewer than 2 windows, no frames or speakers, a
    // window length that is not a positive number, windows the grid cannot place, a mask grid
    // narrower than framesPerChunk, mask or embedding rows below W × S.
    void check(std::int64_t maskRows, std::int64_t maskFrames, std::int64_t embeddingRows) const;
};

} // namespace diarith
