#pragma once

#include "engine/diarization/config/DiarizationOptions.h"
#include "engine/diarization/result/DiarizationResult.h"
#include "engine/foundation/ModelState.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace diarith {

// How far one diarization has come, in units of work.
struct DiarizationProgress {
    std::int64_t totalUnitCount = 0;
    std::int64_t completedUnitCount = 0;

    // 0…1; 0 while the total is not known.
    double fractionCompleted() const {
        return totalUnitCount > 0
                   ? static_cast<double>(completedUnitCount) / static_cast<double>(totalUnitCount)
                   : 0.0;
    }
};

// Called from the diarizer's own threads, never on the caller's.
using DiarizationProgressCallback = std::function<void(const DiarizationProgress&)>;

// A diarization back-end: the engine's own, or one a caller supplies in the configuration. Every
// operation blocks the calling thread (a worker thread, never the GUI thread) and may throw.
class Diarizer {
  public:
    virtual ~Diarizer() = default;

    // A local folder that already holds the models, when there is one.
    virtual std::optional<std::filesystem::path> modelFolder() const = 0;
    virtual basalith::ModelState modelState() const = 0;
    virtual void downloadModels() = 0;
    virtual void loadModels() = 0;
    virtual void unloadModels() = 0;
    // audioArray: 16 kHz mono samples. options: null for the defaults; options of a type the
    // diarizer does not know count as absent. progressCallback: may be empty.
    virtual DiarizationResult diarize(const std::vector<float>& audioArray, const DiarizationOptions* options,
                                      const DiarizationProgressCallback& progressCallback) = 0;
};

} // namespace diarith
