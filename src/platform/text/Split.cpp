#include "platform/text/Split.h"

namespace velnote::platform {

std::vector<std::string> splitOn(std::string_view text, std::string_view separator) {
    if (separator.empty())
        return {std::string(text)};
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t at = text.find(separator); at != std::string_view::npos;
         at = text.find(separator, start)) {
        pieces.emplace_back(text.substr(start, at - start));
        start = at + separator.size();
    }
    pieces.emplace_back(text.substr(start));
    return pieces;
}

std::string joined(const std::vector<std::string>& pieces, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            out += separator;
        out += pieces[i];
    }
    return out;
}

} // namespace velnote::platform
