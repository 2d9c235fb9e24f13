#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// The texts of the live transcript: pure functions, callable from any thread.

// The time prefix of a line: "[mm:ss] " from the whole seconds elapsed since the recording
// started; minutes go on past 59 ("[60:00] ", "[100:00] "). A negative time counts as zero.
std::string liveTimePrefix(std::chrono::steady_clock::duration elapsed);

// Whether an interim text is worth showing: at least two characters before trimming, and after
// trimming something other than the marks ".,。、?!？！".
bool shouldAcceptInterimText(std::string_view text);

// The channels' interim texts, empty ones left out, joined by " / ".
std::string joinedInterimTexts(const std::string& micText, const std::string& sysText);

// The lines joined by "\n", cut to their last `maxCharacters` characters (the cut may fall inside
// a line).
std::string transcriptTail(const std::vector<std::string>& lines, std::size_t maxCharacters);

} // namespace velnote
