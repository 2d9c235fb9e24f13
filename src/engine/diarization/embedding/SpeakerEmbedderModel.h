#pragma once

#include "engine/diarization/embedding/AuxiliaryModels.h"
#include "engine/diarization/embedding/SpeakerEmbedding.h"
#include "engine/diarization/embedding/WindowGeometry.h"
#include "engine/diarization/loader/HeldModel.h"
#include "engine/diarization/segmentation/SpeakerSegmenterOutput.h"
#include "engine/foundation/ModelState.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace diarith {

// What embed() reads of one chunk's segmentation, with the derived per-window values.
struct SpeakerEmbedderContext {
    std::vector<float> speakerActivity;           // [W, S]: active frames per window and speaker
    std::vector<float> speakerIds;                // [W, F, S]: nonzero = active
    std::vector<float> overlappedSpeakerActivity; // [W, F]: 0 = no overlapped speech
    WindowGeometry geometry;
    std::int64_t chunkStride = 0;
    float waveformLength = 0.0f;

    float speakerId(std::int64_t w, std::int64_t f, std::int64_t s) const;
    float overlap(std::int64_t w, std::int64_t f) const;
    // Speakers with more than two frames of activity in window w, ascending.
    std::vector<std::int64_t> activeSpeakerIndices(std::int64_t w) const;
    // Share of window w's frames in which speaker s is active without overlap; 0 without frames.
    float nonOverlappedFrameRatio(std::int64_t w, std::int64_t s) const;
};

// Turns one chunk's segmentation into one embedding per (window, active local speaker): the
// preprocessor, the embedder (all mask rows of the chunk in one prediction) and the PLDA
// projection, one after the other.
//
// One instance serves every chunk of every run while loaded; embed() may run on many threads at
// once. Each call takes the three models it needs at its start and keeps them to its end, so
// unloading never frees a model under a running call.
class SpeakerEmbedderModel {
  public:
    SpeakerEmbedderModel(std::filesystem::path modelURL, std::filesystem::path preprocessorModelURL,
                         std::optional<std::filesystem::path> pldaModelURL,
                         basalith::ComputeUnits computeUnits);

    const std::filesystem::path& modelURL() const { return held_.modelURL(); }
    basalith::ComputeUnits computeUnits() const { return held_.computeUnits(); }
    std::shared_ptr<velnote::platform::ml::Model> model() const { return held_.model(); }
    basalith::ModelState modelState() const { return held_.modelState(); }
    SpeakerPreEmbedderModel& preprocessorModel() { return preprocessor_; }
    const SpeakerPreEmbedderModel& preprocessorModel() const { return preprocessor_; }
    PLDAEmbedderModel* pldaModel() { return plda_ ? &*plda_ : nullptr; }
    const PLDAEmbedderModel* pldaModel() const { return plda_ ? &*plda_ : nullptr; }

    // Loads the PLDA model, the preprocessor, then the embedder. An error stops there: the models
    // loaded before it stay loaded, the embedder's own model and state keep their values.
    void loadModel(bool prewarmMode);
    void unloadModel();

    // The records of one chunk, in window order and within a window by speaker. Throws
    // DiarithError (texts: "Speaker embedder model is unavailable", "Missing required segmenter
    // model output", the waveform-size error, "Missing required pre embedder model output",
    // "PLDAEmbedderModel not loaded. Call loadModel() first.", an invalid geometry) or the
    // runtime's ModelError.
    std::vector<SpeakerEmbedding> embed(const SpeakerSegmenterOutput& segmenterOutput) const;

    // The declared "speaker_masks" shape[1] (D); 0 with the error line "Failed to get
    // speaker_masks shape for EmbedderModel" when it is not declared.
    std::int64_t speakerDimensionForMasks() const;
    // A view of `array`'s storage in another shape (row-major strides). Throws
    // DiarithError::invalidModelOutput "Cannot reshape [a, b] to [c, d]" when the element counts
    // differ.
    static basalith::MultiArray reshapeMultiArray(const basalith::MultiArray& array,
                                                  const std::vector<std::int64_t>& shape);
    // The mask rows of one chunk, [1, maskRows, framesPerChunk] in half floats: row w × S + s holds
    // speaker s's activity in window w with overlapped frames scaled by (1 − overlap), at the
    // window's columns of the chunk grid, for the active speakers of each window; all else 0.
    // Throws DiarithError::invalidModelOutput for a geometry that does not fit.
    static basalith::MultiArray speakerMasks(const SpeakerEmbedderContext& context, std::int64_t maskRows,
                                             std::int64_t chunkIndex = 0);
    // Rows [0, r, ·] of a rank-3 array as floats; empty with the error line "[SpeakerEmbedder] No
    // embeddings to convert to float arrays" for a null array, and empty for another rank.
    static std::vector<std::vector<float>> floatArrays(const basalith::MultiArray* array);

  private:
    struct Held;
    std::vector<SpeakerEmbedding> processChunk(const Held& held, const SpeakerEmbedderContext& context,
                                               std::int64_t chunkIndex,
                                               const basalith::MultiArray& audioChunk) const;

    HeldModel held_;
    SpeakerPreEmbedderModel preprocessor_;
    std::optional<PLDAEmbedderModel> plda_;
};

} // namespace diarith
