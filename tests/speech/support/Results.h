#pragma once

#include "engine/speech/transcription/TranscriptionResult.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velnote::testing {

struct SegmentSpec {
    float start;
    float end;
    std::string text;
};

inline vocalith::TranscriptionSegment engineSegment(const SegmentSpec& spec) {
    vocalith::TranscriptionSegment segment;
    segment.start = spec.start;
    segment.end = spec.end;
    segment.text = spec.text;
    return segment;
}

// One engine result holding the given segments.
inline vocalith::TranscriptionResultPtr result(const std::vector<SegmentSpec>& specs,
                                               std::optional<float> seekTime = std::nullopt) {
    std::vector<vocalith::TranscriptionSegment> segments;
    std::string text;
    for (const auto& spec : specs) {
        segments.push_back(engineSegment(spec));
        text += spec.text;
    }
    return std::make_shared<vocalith::TranscriptionResult>(text, segments, "en",
                                                           vocalith::TranscriptionTimings{}, seekTime);
}

} // namespace velnote::testing
