#pragma once

#include "engine/speech/DecodingOptions.h"
#include "engine/speech/audio/VoiceActivityDetector.h"
#include "engine/speech/transcription/DecodingResult.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace vocalith {

// A stretch of a longer recording, cut to fit one model window.
struct AudioChunk {
    std::int64_t seekOffsetIndex = 0; // index of the chunk's first sample within the chunked array
    std::vector<float> audioSamples;  // a copy of that stretch
};

// Cuts recordings longer than one window into chunks that fit one, and moves the chunks'
// transcription results back onto the whole recording's time line.
class AudioChunking {
  public:
    virtual ~AudioChunking() = default;

    // Chunks in order; every chunk holds at most `maxChunkLength` samples. May throw WhisperError.
    virtual std::vector<AudioChunk> chunkAll(const std::vector<float>& audioArray,
                                             std::int64_t maxChunkLength,
                                             const std::optional<DecodingOptions>& decodeOptions) = 0;

    // One outcome per chunk, in chunk order. Failed chunks are logged at error level and left out; every
    // result of the others gets its segments (window start, times, word times) shifted by its chunk's start
    // and its seekTime set to that start in seconds, and comes back as the same object, all in one flat list
    // in chunk order.
    static std::vector<TranscriptionResultPtr>
    updateSeekOffsetsForResults(const std::vector<TranscriptionOutcome>& chunkedResults,
                                const std::vector<AudioChunk>& audioChunks);
};

// Cuts at silences: whenever a whole window does not reach the end of a clip, the cut goes to the
// middle of the longest silence in the window's second half (the window's end when there is none).
// Every sample of every clip lands in a chunk: the stretch after the last cut is a chunk of its
// own however short, and a clip of any length yields at least one.
//
// Holds only its construction values; each chunkAll call is independent.
class VADAudioChunker : public AudioChunking {
  public:
    // Without a detector, the default EnergyVAD. The engine passes 16000 samples of padding.
    explicit VADAudioChunker(std::int64_t windowPadding = 16000,
                             std::shared_ptr<VoiceActivityDetector> vad = nullptr);

    std::int64_t windowPadding() const { return windowPadding_; }
    const VoiceActivityDetector& vad() const { return *vad_; }

    // An array of at most maxChunkLength samples comes back whole as one chunk at 0. A longer one
    // is cut clip by clip (the options' clip timestamps, the whole array without them). Throws
    // WhisperError::audioProcessingFailed ("startIndex is outside the buffer size") for a clip that
    // starts at or beyond the end of the array; nothing is returned then.
    std::vector<AudioChunk> chunkAll(const std::vector<float>& audioArray, std::int64_t maxChunkLength,
                                     const std::optional<DecodingOptions>& decodeOptions) override;

  private:
    // Where the chunk starting at `start` ends within a clip ending at `clipEnd`.
    std::int64_t cutPoint(const std::vector<float>& audioArray, std::int64_t start, std::int64_t clipEnd,
                          std::int64_t maxChunkLength) const;

    // Kept as the engine sets it; no stretch is dropped for being shorter than this.
    std::int64_t windowPadding_;
    std::shared_ptr<VoiceActivityDetector> vad_;
};

// Whether the engine's main transcription entry cuts the audio at silences rather than decoding it
// directly: more samples than one window (exactly one window is decoded directly) and options that
// choose VAD chunking.
bool takesChunkedPath(std::int64_t sampleCount, std::int64_t windowSamples,
                      const std::optional<DecodingOptions>& decodeOptions);

} // namespace vocalith
