#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace velnote::testing {

inline constexpr const char* kFetchHint = "the real weights and recordings are not in the dependency cache: "
                                          "run scripts/fetch-models (make test does)";

inline std::filesystem::path dependencyCache() {
    if (const char* cache = std::getenv("VELNOTE_DEPS_CACHE"); cache != nullptr && *cache != '\0')
        return cache;
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : "/") / ".cache" / "velnote-deps";
}

// A model folder that scripts/fetch-models unpacked ("whisper-base", "whisper-tiny.en"), when it
// finished unpacking it.
inline std::optional<std::filesystem::path> fetchedModel(const std::string& name) {
    const auto folder = dependencyCache() / "models" / name;
    if (!std::filesystem::exists(folder / ".complete"))
        return std::nullopt;
    return folder;
}

// The folder of fetched recordings ("prompts", "librivox", "cards"), when present.
inline std::optional<std::filesystem::path> fetchedSpeech(const std::string& name) {
    const auto speech = dependencyCache() / "speech";
    if (!std::filesystem::exists(speech / ".complete"))
        return std::nullopt;
    return speech / name;
}

} // namespace velnote::testing
