#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velnote::platform {

// A character here is what a reader sees as one: an extended grapheme cluster.
// "👨‍👩‍👧" (three people joined by zero-width joiners) is one character, and so is
// "か" followed by a combining voiced sound mark. "\r\n" is one character too.
// Each invalid UTF-8 sequence counts as one character.

// The number of characters in `text`.
std::size_t characterCount(std::string_view text);

// The first `count` characters of `text`, whole: never a part of a cluster or
// of a UTF-8 sequence. All of `text` when it has `count` characters or fewer.
std::string prefixCharacters(std::string_view text, std::size_t count);

// The characters of `text` in order, as views into it; joined they give `text`.
std::vector<std::string_view> splitCharacters(std::string_view text);

// `text` with every code point that is neither a letter, mark or number of any
// script (Unicode categories L, M and N) nor one of the ASCII characters in
// `alsoKept` replaced by `replacement`; each invalid UTF-8 sequence is replaced
// as one. Runs are not collapsed: "a::b" with "_" gives "a__b".
std::string replacingNonAlphanumerics(std::string_view text, std::string_view alsoKept,
                                      std::string_view replacement);

// Whether `text` is well-formed UTF-8: no stray continuation or truncated
// sequences, no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text);

// `text` with each invalid UTF-8 sequence (a stray or truncated one, an overlong form, a
// surrogate) replaced by one U+FFFD; valid text comes back unchanged. The bytes of an unfinished
// character at the end become one U+FFFD.
std::string replacingInvalidUtf8(std::string_view text);

// `text` without a character cut off at its end (a lead byte followed by fewer continuation bytes
// than it announces), as when a byte stream stops mid-character; any other text comes back whole.
std::string_view withoutUnfinishedCharacter(std::string_view text);

} // namespace velnote::platform
