#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <unicode/unistr.h>
#include <vector>

namespace velnote::platform {

// UTF-8 text converted to UTF-16 for ICU, remembering where each UTF-16 unit
// came from so offsets found in the UTF-16 form map back to the UTF-8 bytes.
// Each invalid UTF-8 sequence becomes one U+FFFD.
class Utf16Text {
  public:
    explicit Utf16Text(std::string_view utf8);

    const icu::UnicodeString& units() const { return units_; }

    // Byte offset in the UTF-8 input of UTF-16 unit `unit`; units().length()
    // maps to the input's size.
    std::size_t byteOffset(int32_t unit) const { return byteOffsets_.at(static_cast<std::size_t>(unit)); }

  private:
    icu::UnicodeString units_;
    std::vector<std::size_t> byteOffsets_;
};

} // namespace velnote::platform
