#include "platform/text/Markers.h"

namespace velnote::platform {

namespace {

bool removeEach(std::string& text, std::string_view marker) {
    bool removed = false;
    for (std::size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at)) {
        text.erase(at, marker.size());
        removed = true;
    }
    return removed;
}

} // namespace

std::string withoutMarkers(std::string_view text, const std::vector<std::string>& markers) {
    std::string cleaned(text);
    for (bool removed = true; removed;) {
        removed = false;
        for (const std::string& marker : markers)
            if (!marker.empty() && removeEach(cleaned, marker))
                removed = true;
    }
    return cleaned;
}

} // namespace velnote::platform
