#pragma once

#include "engine/diarization/config/DiarithConfig.h"
#include "engine/diarization/loader/ModelSetGenerator.h"
#include "engine/diarization/loader/PyannoteModelLoader.h"
#include "support/TempDir.h"

#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <numbers>
#include <vector>

namespace diarith::testing {

// One generated model set per kind and damage, written once per test program.
inline std::filesystem::path modelSet(GeneratedWeights weights, ModelDamage damage = ModelDamage::none) {
    static std::mutex mutex;
    static std::map<std::pair<GeneratedWeights, ModelDamage>, std::unique_ptr<velnote::testing::TempDir>>
        sets;
    std::lock_guard lock(mutex);
    auto& dir = sets[{weights, damage}];
    if (!dir) {
        dir = std::make_unique<velnote::testing::TempDir>();
        writeModelSet(
            dir->path(), weights, 7,
            weights == GeneratedWeights::tone ? ModelSetSizes::tone() : ModelSetSizes{}.consistent(), damage);
    }
    return dir->path();
}

// A configuration that loads from `folder` and never downloads.
inline PyannoteConfig localConfig(const std::filesystem::path& folder,
                                  std::optional<std::int64_t> embedderWorkers = {},
                                  std::int64_t segmenterWorkers = 2, bool load = false) {
    return PyannoteConfig(std::nullopt, "quorvaneinc/diarith-coreml", std::nullopt, folder.string(), false,
                          false, "http://127.0.0.1:9", "main", load, false, basalith::Logging::LogLevel::none,
                          false, segmenterWorkers, embedderWorkers, nullptr);
}

inline std::shared_ptr<PyannoteModelLoader> loadedLoader(const std::filesystem::path& folder,
                                                         std::optional<std::int64_t> embedderWorkers = {}) {
    auto loader = std::make_shared<PyannoteModelLoader>(
        localConfig(folder, embedderWorkers), segmenterModelInfo(), embedderModelInfo(), pldaModelInfo());
    loader->load(folder.string(), false);
    return loader;
}

// Stretches of 16 kHz audio: a low tone (local speaker 0 of the tone models), a high tone
// (speaker 1) or silence.
enum class Tone { low, high, silence };
inline std::vector<float> tones(const std::vector<std::pair<Tone, double>>& stretches) {
    std::vector<float> out;
    for (const auto& [tone, seconds] : stretches) {
        const double hz = tone == Tone::low ? 300.0 : 3000.0;
        const auto n = static_cast<std::size_t>(seconds * 16000.0);
        for (std::size_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(out.size()) / 16000.0;
            out.push_back(tone == Tone::silence
                              ? 0.0f
                              : static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * hz * t)));
        }
    }
    return out;
}

} // namespace diarith::testing
