#include "platform/text/Lines.h"

namespace velnote::platform {

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t lineBreak = text.find_first_of("\r\n", start);
        if (lineBreak == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, lineBreak - start));
        const bool crlf = text.compare(lineBreak, 2, "\r\n") == 0;
        start = lineBreak + (crlf ? 2 : 1);
    }
    return lines;
}

} // namespace velnote::platform
