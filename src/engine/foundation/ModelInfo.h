#pragma once

#include "engine/foundation/ComputeUnits.h"

#include <filesystem>
#include <optional>
#include <string>

namespace basalith {

// One model as a model repository lays it out: <name>/<version>/<variant>/ holding its files.
struct ModelInfo {
    std::optional<std::string> version{};              // absent = any version
    std::optional<std::string> variant{};              // absent = any variant
    std::string name{};                                // the model's folder at the top of the repository
    ComputeUnits computeUnits = ComputeUnits::cpuOnly; // what an engine loads it with; lookups ignore it

    // Glob of every file of the model: name/(version or *)/(variant or *)/*.
    std::string downloadPattern() const;
    // base/name[/version][/variant]; a part containing "/" adds several levels.
    std::filesystem::path modelURL(const std::filesystem::path& base) const;
    // The folder that holds the `name` folder, found by walking up from `path`; none when no
    // component above the root equals `name` exactly.
    std::optional<std::filesystem::path> findBaseFolder(const std::filesystem::path& path) const;
    // name[/version][/variant].
    std::string description() const;
    // ModelInfo(name: n, version: v|nil, variant: v|nil, computeUnit: <compute units' description>)
    std::string debugDescription() const;
};

} // namespace basalith
