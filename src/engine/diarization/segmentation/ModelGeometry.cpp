#include "engine/diarization/segmentation/ModelGeometry.h"

namespace diarith {
namespace {

std::optional<std::vector<std::int64_t>>
shapeIn(const std::map<std::string, basalith::FeatureDescription>& features, const std::string& name) {
    auto found = features.find(name);
    if (found == features.end() || found->second.type != basalith::FeatureDescription::Type::multiArray)
        return std::nullopt;
    return found->second.shape;
}

std::optional<std::vector<std::int64_t>> ofRank(std::optional<std::vector<std::int64_t>> shape,
                                                std::size_t rank) {
    return shape && shape->size() == rank ? shape : std::nullopt;
}

} // namespace

std::optional<std::vector<std::int64_t>> inputShape(const basalith::ModelDescription* description,
                                                    const std::string& name, std::size_t rank) {
    return description ? ofRank(shapeIn(description->inputs, name), rank) : std::nullopt;
}

std::optional<std::vector<std::int64_t>> outputShape(const basalith::ModelDescription* description,
                                                     const std::string& name, std::size_t rank) {
    return description ? ofRank(shapeIn(description->outputs, name), rank) : std::nullopt;
}

std::optional<std::vector<std::int64_t>> anyInputShape(const basalith::ModelDescription* description,
                                                       const std::string& name) {
    return description ? shapeIn(description->inputs, name) : std::nullopt;
}

std::string shapeText(const std::vector<std::int64_t>& shape) {
    std::string text = "[";
    for (std::size_t i = 0; i < shape.size(); ++i)
        text += (i ? ", " : "") + std::to_string(shape[i]);
    return text + "]";
}

} // namespace diarith
