#pragma once

#include "platform/json/Json.h"

#include <string>

namespace velnote {

// One weighted text region of a screenshot, as the structured OCR ranks it: the trimmed text, its
// final weight, where its centre lies ("top", "center", "bottom") and how much of the screenshot
// it covers ("small", "medium", "large"). Activity tracking sends the texts to the screen
// inference and writes the regions into "foreground_app_log.jsonl".
struct StructuredTextRegion {
    std::string text{};
    double weight = 0;
    std::string position{};
    std::string size{};

    bool operator==(const StructuredTextRegion&) const = default;
};

// {"text", "weight", "position", "size"}; decoding needs all four with those types.
void to_json(platform::Json& json, const StructuredTextRegion& region);
void from_json(const platform::Json& json, StructuredTextRegion& region);

} // namespace velnote
