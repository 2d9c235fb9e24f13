#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// Cuts a tool's output, as it arrives in pieces, into lines ended by "\n". Works on bytes, so a
// piece that ends inside a character or a line is carried into the next one: nothing is lost.
class LineAssembler {
  public:
    // The lines that `piece` completes, without their "\n", in order.
    std::vector<std::string> push(std::string_view piece);
    // The bytes of the line not yet ended.
    const std::string& remainder() const { return remainder_; }

  private:
    std::string remainder_;
};

} // namespace velnote
