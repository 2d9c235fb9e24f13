#include "engine/speech/models/ModelUtilities.h"

#include "engine/foundation/Helpers.h"
#include "engine/foundation/Logging.h"

#include <algorithm>

namespace vocalith {

ModelVariant ModelUtilities::detectVariant(std::int64_t logitsDim, std::int64_t encoderDim) {
    switch (logitsDim) {
    case 51864:
        switch (encoderDim) {
        case 384:
            return ModelVariant::tinyEn;
        case 768:
            return ModelVariant::smallEn;
        case 1024:
            return ModelVariant::mediumEn;
        default:
            return ModelVariant::baseEn;
        }
    case 51865:
        switch (encoderDim) {
        case 384:
            return ModelVariant::tiny;
        case 768:
            return ModelVariant::small;
        case 1024:
            return ModelVariant::medium;
        case 1280:
            return ModelVariant::largev2;
        default:
            return ModelVariant::base;
        }
    case 51866:
        return ModelVariant::largev3;
    default:
        basalith::Logging::error("Unrecognized vocabulary size: " + std::to_string(logitsDim) +
                                 ", defaulting to base variant");
        return ModelVariant::base;
    }
}

std::filesystem::path ModelUtilities::detectModelURL(const std::filesystem::path& folder,
                                                     const std::string& name) {
    return folder / (name + ".mlmodelc");
}

std::string ModelUtilities::tokenizerNameForVariant(ModelVariant variant) {
    return "openai/whisper-" + std::string(description(variant));
}

namespace {

// The position in variant order of the first description the name contains; past the end for none.
std::size_t variantRank(const std::string& name) {
    for (std::size_t i = 0; i < kAllModelVariants.size(); ++i) {
        if (name.find(description(kAllModelVariants[i])) != std::string::npos)
            return i;
    }
    return kAllModelVariants.size();
}

} // namespace

std::vector<std::string> ModelUtilities::formatModelFiles(const std::vector<std::string>& modelFiles) {
    std::vector<std::string> markers;
    for (const auto variant : kAllModelVariants) {
        std::string marker(description(variant));
        if (marker.find("large") == std::string::npos)
            marker += '/';
        markers.push_back(std::move(marker));
    }
    std::vector<std::string> folders;
    for (const auto& path : modelFiles) {
        const std::string folder = path.substr(0, path.find('/')) + "/";
        const bool named = std::any_of(markers.begin(), markers.end(), [&folder](const std::string& m) {
            return folder.find(m) != std::string::npos;
        });
        if (named)
            folders.push_back(folder);
    }
    folders = basalith::orderedSet(folders);
    for (auto& folder : folders)
        folder.pop_back();
    std::stable_sort(folders.begin(), folders.end(), [](const std::string& a, const std::string& b) {
        const auto rankA = variantRank(a);
        const auto rankB = variantRank(b);
        return rankA != rankB ? rankA < rankB : a < b;
    });
    return folders;
}

} // namespace vocalith
