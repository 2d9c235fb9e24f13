#include "platform/text/Split.h"

namespace velnote::platform {

std::vector<std::string> splitOn(std::string_view text, std::string_view separator) {
    std::vector<std::string> pieces;
    forEachPiece(text, separator, [&](std::string_view piece) { pieces.emplace_back(piece); });
    return pieces;
}

void forEachPiece(std::string_view text, std::string_view separator,
                  const std::function<void(std::string_view)>& piece) {
    if (separator.empty()) {
        piece(text);
        return;
    }
    std::size_t start = 0;
    for (std::size_t at = text.find(separator); at != std::string_view::npos;
         at = text.find(separator, start)) {
        piece(text.substr(start, at - start));
        start = at + separator.size();
    }
    piece(text.substr(start));
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
