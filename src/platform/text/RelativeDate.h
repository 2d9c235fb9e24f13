#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace velnote::platform {

// The age of `date` seen from `now` in words, in the largest whole unit that is not zero (years,
// months, weeks, days, hours, minutes, seconds): "3 minutes ago", "in 2 days", "3分前". Numeric
// throughout ("1 day ago", never "yesterday"). `locale` is an ICU locale name ("en_US", "ja_JP");
// empty means the process's default locale (from LC_ALL, LC_MESSAGES, LANG). Never throws: a
// locale ICU cannot serve falls back to its root locale's text.
std::string relativeDateString(std::chrono::system_clock::time_point date,
                               std::chrono::system_clock::time_point now, std::string_view locale = {});

} // namespace velnote::platform
