#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

namespace diarith {

// How transcribed words get their speakers: by whole transcription segment, or by groups of words
// split where the pause between two words exceeds a threshold.
class SpeakerInfoStrategy {
  public:
    enum class Kind { segment, subsegment };

    static SpeakerInfoStrategy segment() { return SpeakerInfoStrategy(Kind::segment, 0.0f); }
    // betweenWordThreshold: seconds of pause that split a group.
    static SpeakerInfoStrategy subsegment(float betweenWordThreshold = 0.15f) {
        return SpeakerInfoStrategy(Kind::subsegment, betweenWordThreshold);
    }
    // "segment" or "subsegment" in any letter case; anything else gives none.
    static std::optional<SpeakerInfoStrategy> fromText(std::string_view text);

    Kind kind() const { return kind_; }
    // Seconds; meaningful for subsegment only.
    float betweenWordThreshold() const { return threshold_; }

    friend bool operator==(const SpeakerInfoStrategy& a, const SpeakerInfoStrategy& b) {
        return a.kind_ == b.kind_ && (a.kind_ == Kind::segment || a.threshold_ == b.threshold_);
    }

  private:
    SpeakerInfoStrategy(Kind kind, float threshold) : kind_(kind), threshold_(threshold) {}

    Kind kind_;
    float threshold_;
};

} // namespace diarith

template <> struct std::hash<diarith::SpeakerInfoStrategy> {
    std::size_t operator()(const diarith::SpeakerInfoStrategy& strategy) const noexcept;
};
