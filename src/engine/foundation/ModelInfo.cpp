#include "engine/foundation/ModelInfo.h"

#include <iterator>

namespace basalith {

std::string ModelInfo::downloadPattern() const {
    return name + "/" + version.value_or("*") + "/" + variant.value_or("*") + "/*";
}

std::filesystem::path ModelInfo::modelURL(const std::filesystem::path& base) const {
    auto url = base / name;
    if (version)
        url /= *version;
    if (variant)
        url /= *variant;
    return url;
}

std::optional<std::filesystem::path> ModelInfo::findBaseFolder(const std::filesystem::path& path) const {
    auto current = path.lexically_normal();
    if (!current.has_filename() && current.has_relative_path())
        current = current.parent_path(); // "a/b/"
    while (std::distance(current.begin(), current.end()) >= 2) {
        if (current.filename() == name)
            return current.parent_path();
        current = current.parent_path();
    }
    return std::nullopt;
}

std::string ModelInfo::description() const {
    std::string text = name;
    if (version)
        text += "/" + *version;
    if (variant)
        text += "/" + *variant;
    return text;
}

std::string ModelInfo::debugDescription() const {
    return "ModelInfo(name: " + name + ", version: " + version.value_or("nil") +
           ", variant: " + variant.value_or("nil") + ", computeUnit: " + basalith::description(computeUnits) +
           ")";
}

} // namespace basalith
