#include "context/ocr/StructuredTextRegion.h"

namespace velnote {

void to_json(platform::Json& json, const StructuredTextRegion& region) {
    json = platform::Json::object();
    json["text"] = region.text;
    json["weight"] = region.weight;
    json["position"] = region.position;
    json["size"] = region.size;
}

void from_json(const platform::Json& json, StructuredTextRegion& region) {
    region.text = platform::required<std::string>(json, "text");
    region.weight = platform::required<double>(json, "weight");
    region.position = platform::required<std::string>(json, "position");
    region.size = platform::required<std::string>(json, "size");
}

} // namespace velnote
