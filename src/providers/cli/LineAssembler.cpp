#include "providers/cli/LineAssembler.h"

namespace velnote {

std::vector<std::string> LineAssembler::push(std::string_view piece) {
    remainder_ += piece;
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = remainder_.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(remainder_.substr(start, end - start));
    remainder_.erase(0, start);
    return lines;
}

} // namespace velnote
