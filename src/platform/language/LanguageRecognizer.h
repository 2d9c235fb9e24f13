#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velnote::platform {

// The language most of `text` is written in, as a language code ("en", "ja", "zh", "zh-Hant"),
// told by the compact language detector's statistics; none when the text gives no clue (empty,
// only digits or punctuation) or is not valid UTF-8. Stateless and safe from any thread.
std::optional<std::string> dominantLanguage(std::string_view text);

} // namespace velnote::platform
