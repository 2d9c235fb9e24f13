#include "providers/cli/LineAssembler.h"

#include <algorithm>

namespace velnote {

LineTooLongError::LineTooLongError(std::size_t limit, std::string_view what)
    : std::length_error(std::string(what) + " longer than " + std::to_string(limit) + " bytes") {}

void appendBounded(std::string& answer, std::string_view text) {
    if (text.size() > LineAssembler::kMaxLineBytes - std::min(answer.size(), LineAssembler::kMaxLineBytes))
        throw LineTooLongError(LineAssembler::kMaxLineBytes, "an answer");
    answer += text;
}

std::vector<std::string> LineAssembler::push(std::string_view piece) {
    std::vector<std::string> lines;
    // Only the new piece is searched, so a long line costs its length once.
    for (std::size_t end; (end = piece.find('\n')) != std::string_view::npos; piece.remove_prefix(end + 1)) {
        append(piece.substr(0, end));
        lines.push_back(std::move(remainder_));
        remainder_.clear();
    }
    append(piece);
    return lines;
}

void LineAssembler::append(std::string_view bytes) {
    if (bytes.size() > maxLineBytes_ - remainder_.size())
        throw LineTooLongError(maxLineBytes_);
    remainder_ += bytes;
}

} // namespace velnote
