#pragma once

#include "platform/ml/Network.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace diarith {

// The segmentation of one 30-second chunk: the model's outputs unchanged and where the chunk lies.
// A plain value; copies share the arrays, which nobody writes after the prediction.
class SpeakerSegmenterOutput {
  public:
    SpeakerSegmenterOutput(velnote::platform::ml::FeatureMap features, std::int64_t chunkIndex,
                           basalith::MultiArray audioChunk, std::int64_t chunkStride, float waveformLength,
                           float modelSampleRate, float audioSampleRate = 16000.0f);

    // The model outputs by name, in name order.
    std::vector<std::string> featureNames() const;
    // Null when the model gave no output of that name.
    const basalith::MultiArray* featureValue(const std::string& name) const;

    std::int64_t chunkIndex;         // position of the chunk in the audio, from 0
    basalith::MultiArray audioChunk; // the model input: [480000] samples, zeros past the audio
    std::int64_t chunkStride;        // whole seconds between the starts of two chunks
    float waveformLength;            // seconds of real audio in the chunk
    float modelSampleRate;           // model output frames per second; 0 without geometry
    float audioSampleRate;           // 16000

    // Element 0 of "sliding_window_waveform", 0 without it.
    std::int64_t windowsCount() const;
    // Element 2 of "sliding_window_waveform" / audioSampleRate, 0 without it.
    float secondsPerWindow() const;
    // "[SpeakerSegmenterOutput: chunkIndex=3, features=speaker_ids: [21, 589, 3], ...]".
    std::string debugDescription() const;

  private:
    velnote::platform::ml::FeatureMap features_;
};

} // namespace diarith
