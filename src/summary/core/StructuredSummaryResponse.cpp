#include "summary/core/StructuredSummaryResponse.h"

namespace velnote {

using platform::required;

void from_json(const platform::Json& json, StructuredSummaryResponse::Section& section) {
    section.heading = required<std::string>(json, "heading");
    section.format = required<std::string>(json, "format");
    section.content = required<std::string>(json, "content");
}

void from_json(const platform::Json& json, StructuredSummaryResponse& response) {
    response.title = required<std::string>(json, "title");
    response.sections = required<std::vector<StructuredSummaryResponse::Section>>(json, "sections");
}

void to_json(platform::Json& json, const StructuredSummaryResponse::Section& section) {
    json = {{"heading", section.heading}, {"format", section.format}, {"content", section.content}};
}

void to_json(platform::Json& json, const StructuredSummaryResponse& response) {
    json = {{"title", response.title}, {"sections", response.sections}};
}

} // namespace velnote
