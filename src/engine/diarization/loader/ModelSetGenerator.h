#pragma once

#include "platform/ml/ModelConfig.h"

#include <cstdint>
#include <filesystem>

namespace diarith {

// The sizes of a generated model set. The defaults have the engine's real geometry: 30-second
// chunks, 21 windows of 10 seconds, 589 frames per window, 3 local speakers.
struct ModelSetSizes {
    velnote::platform::ml::SpeakerSegmenterConfig segmenter{};
    velnote::platform::ml::SpeakerEmbedderPreprocessorConfig preprocessor{};
    velnote::platform::ml::SpeakerEmbedderConfig embedder{};
    velnote::platform::ml::PldaProjectorConfig plda{};

    // The embedder and PLDA sizes that fit the segmenter and preprocessor above (mask rows = W × S,
    // mask frames = the chunk's frame grid, feature frames and length, Φ).
    ModelSetSizes consistent() const;
    // Hand-set tone networks need no width: the smallest that hold them.
    static ModelSetSizes tone();
};

enum class GeneratedWeights {
    random, // seeded
    tone,   // a low tone is local speaker 0, a high tone speaker 1, each with its own embedding direction
};

// Damage a test asks for, each the smallest change that shows one fault.
enum class ModelDamage {
    none,
    segmenterOutputMissing, // the segmenter declares no "speaker_activity"
    segmenterWrongRank,     // "speaker_ids" declared [W, F × S]
    singleWindow,           // W = 1: no window step, no stride offset
    noWaveformSize,         // the preprocessor declares "waveforms" as [N]
    preprocessorOutputMissing,
    fewMaskRows, // mask rows W × S − 1
};

// Writes the four models into a repository folder laid out as the model loader reads it:
// speaker_segmenter/pyannote-v3/W8A16/SpeakerSegmenter.gguf,
// speaker_embedder/pyannote-v3/W8A16/{SpeakerEmbedderPreprocessor,SpeakerEmbedder}.gguf and
// speaker_clusterer/pyannote-v4/W32A32/PldaProjector.gguf. Throws std::invalid_argument for sizes
// the networks refuse, std::system_error when a file cannot be written.
void writeModelSet(const std::filesystem::path& repository, GeneratedWeights weights, std::uint32_t seed = 1,
                   ModelSetSizes sizes = ModelSetSizes{}.consistent(),
                   ModelDamage damage = ModelDamage::none);

} // namespace diarith
