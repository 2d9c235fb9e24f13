#pragma once

#include <array>
#include <ostream>
#include <string_view>

namespace vocalith {

// The model family's sizes, in this order.
enum class ModelVariant {
    tiny,
    tinyEn,
    base,
    baseEn,
    small,
    smallEn,
    medium,
    mediumEn,
    large,
    largev2,
    largev3
};

inline constexpr std::array<ModelVariant, 11> kAllModelVariants{
    ModelVariant::tiny,  ModelVariant::tinyEn,  ModelVariant::base,   ModelVariant::baseEn,
    ModelVariant::small, ModelVariant::smallEn, ModelVariant::medium, ModelVariant::mediumEn,
    ModelVariant::large, ModelVariant::largev2, ModelVariant::largev3};

// "tiny", "tiny.en", ..., "large-v2", "large-v3".
std::string_view description(ModelVariant variant);
// False for the English-only ".en" variants.
bool isMultilingual(ModelVariant variant);

inline std::ostream& operator<<(std::ostream& out, ModelVariant variant) {
    return out << description(variant);
}

} // namespace vocalith
