#include "engine/diarization/result/SpeakerInfoStrategy.h"

#include <bit>
#include <cstdint>
#include <string>

namespace diarith {

std::optional<SpeakerInfoStrategy> SpeakerInfoStrategy::fromText(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    if (lower == "segment")
        return segment();
    if (lower == "subsegment")
        return subsegment();
    return std::nullopt;
}

} // namespace diarith

std::size_t std::hash<diarith::SpeakerInfoStrategy>::operator()(
    const diarith::SpeakerInfoStrategy& strategy) const noexcept {
    if (strategy.kind() == diarith::SpeakerInfoStrategy::Kind::segment)
        return 0;
    // −0.0 equals 0.0, so both must hash alike.
    const float threshold = strategy.betweenWordThreshold() == 0.0f ? 0.0f : strategy.betweenWordThreshold();
    return 1 ^ (std::hash<std::uint32_t>{}(std::bit_cast<std::uint32_t>(threshold)) << 1);
}
