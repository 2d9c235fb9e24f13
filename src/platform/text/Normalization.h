#pragma once

#include <string>
#include <string_view>

namespace velnote::platform {

// Unicode normalisation forms. NFC composes canonically equivalent sequences
// ("か" + U+3099 becomes "が"); NFKC also folds compatibility variants
// (full-width "Ａ" becomes "A", half-width "ｶ" becomes "カ").
std::string nfc(std::string_view text);
std::string nfkc(std::string_view text);

} // namespace velnote::platform
