#pragma once

#include <cstdint>

namespace basalith {

// The life-cycle state of a set of models. The order of the cases is their index.
enum class ModelState : std::uint8_t {
    unloading,
    unloaded,
    loading,
    loaded,
    prewarming, // prints "Specializing"
    prewarmed,  // prints "Specialized"
    downloading,
    downloaded,
};

// "Unloading", "Unloaded", "Loading", "Loaded", "Specializing", "Specialized", "Downloading",
// "Downloaded".
const char* description(ModelState state);
// True while work is in progress: unloading, loading, prewarming, downloading.
bool isBusy(ModelState state);

} // namespace basalith
