#pragma once

#include "platform/json/Json.h"

#include <string>
#include <vector>

namespace velnote {

// The summary JSON every provider is asked to return: a title and the body as
// sections in order.
struct StructuredSummaryResponse {
    struct Section {
        std::string heading;
        std::string format; // how `content` is written: "markdown", "list", "mermaid", "table" or any text
        std::string content;

        bool operator==(const Section&) const = default;
    };

    std::string title;
    std::vector<Section> sections;

    bool operator==(const StructuredSummaryResponse&) const = default;
};

// Strict: "title", "sections" and each section's "heading", "format" and
// "content" are required strings (an array for "sections"); a missing key, a
// null or another type throws platform::JsonDecodeError. Other keys are ignored.
void from_json(const platform::Json& json, StructuredSummaryResponse::Section& section);
void from_json(const platform::Json& json, StructuredSummaryResponse& response);
void to_json(platform::Json& json, const StructuredSummaryResponse::Section& section);
void to_json(platform::Json& json, const StructuredSummaryResponse& response);

} // namespace velnote
