#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// A line (or an answer made of lines) grew past its limit: the tool writing it is broken or hostile.
class LineTooLongError : public std::length_error {
  public:
    explicit LineTooLongError(std::size_t limit, std::string_view what = "a line");
};

// Appends `text` to `answer`, or throws LineTooLongError when the answer would pass
// LineAssembler::kMaxLineBytes.
void appendBounded(std::string& answer, std::string_view text);

// Cuts a tool's output, as it arrives in pieces, into lines ended by "\n". Works on bytes, so a
// piece that ends inside a character or a line is carried into the next one: nothing is lost.
class LineAssembler {
  public:
    static constexpr std::size_t kMaxLineBytes = std::size_t{16} << 20;

    explicit LineAssembler(std::size_t maxLineBytes = kMaxLineBytes) : maxLineBytes_(maxLineBytes) {}

    // The lines that `piece` completes, without their "\n", in order. Throws LineTooLongError
    // when a line would hold more than the limit.
    std::vector<std::string> push(std::string_view piece);
    // The bytes of the line not yet ended.
    const std::string& remainder() const { return remainder_; }

  private:
    void append(std::string_view bytes);

    std::size_t maxLineBytes_;
    std::string remainder_;
};

} // namespace velnote
