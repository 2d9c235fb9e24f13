#include "engine/foundation/ModelUtilities.h"

#include <algorithm>
#include <vector>

namespace fs = std::filesystem;

namespace basalith {
namespace {

std::optional<std::int64_t> dimension(const std::map<std::string, FeatureDescription>& features,
                                      const std::string& name, int position) {
    auto found = features.find(name);
    if (found == features.end())
        return std::nullopt;
    const FeatureDescription& feature = found->second;
    if (feature.type != FeatureDescription::Type::multiArray || !feature.shape)
        return std::nullopt;
    if (position < 0 || static_cast<std::size_t>(position) >= feature.shape->size())
        return std::nullopt;
    return (*feature.shape)[static_cast<std::size_t>(position)];
}

std::vector<fs::path> sortedEntries(const fs::path& folder) {
    std::vector<fs::path> entries;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        entries.push_back(it->path());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::optional<fs::path> findBelow(const fs::path& folder, const std::string& fileName) {
    for (const auto& entry : sortedEntries(folder)) {
        if (entry.filename() == fileName)
            return entry;
        std::error_code ec;
        if (fs::is_directory(entry, ec) && !fs::is_symlink(entry, ec)) {
            if (auto found = findBelow(entry, fileName))
                return found;
        }
    }
    return std::nullopt;
}

} // namespace

fs::path ModelUtilities::detectModelURL(const fs::path& folder, const std::string& name) {
    return folder / (name + kModelExtension);
}

fs::path ModelUtilities::detectModelURL(const fs::path& folder, const std::string& name, bool recursive) {
    const fs::path direct = detectModelURL(folder, name);
    std::error_code ec;
    if (!recursive || fs::exists(direct, ec))
        return direct;
    return findBelow(folder, direct.filename()).value_or(direct);
}

std::optional<fs::path> ModelUtilities::detectModelURL(const fs::path& folder) {
    for (const auto& entry : sortedEntries(folder)) {
        if (entry.extension() == kModelExtension)
            return entry;
    }
    return std::nullopt;
}

std::optional<std::int64_t> ModelUtilities::getModelInputDimension(const ModelDescription* model,
                                                                   const std::string& name, int position) {
    if (model == nullptr)
        return std::nullopt;
    return dimension(model->inputs, name, position);
}

std::optional<std::int64_t> ModelUtilities::getModelOutputDimension(const ModelDescription* model,
                                                                    const std::string& name, int position) {
    if (model == nullptr)
        return std::nullopt;
    return dimension(model->outputs, name, position);
}

} // namespace basalith
