#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace basalith {

// (value × 10^places, rounded half away from zero) ÷ 10^places, all in 32-bit float. A negative
// number of places rounds to tens, hundreds and so on.
float rounded(float value, int places);

// Expands a leading "~" or "~user"; a result starting with "/" is returned as it is, any other is
// taken relative to the current directory.
std::string resolveAbsolutePath(const std::string& path);

// POSIX fnmatch without flags: "*" also crosses "/", a leading "." is not special, "\" escapes.
bool globMatches(const std::string& pattern, const std::string& text);
// The elements that match `pattern`, in their order.
std::vector<std::string> matchingGlob(const std::vector<std::string>& texts, const std::string& pattern);

// `text` without up to `maxCount` copies of `character` at its end; stops at the first other
// character. maxCount ≤ 0 returns the text unchanged.
std::string trimmingFromEnd(const std::string& text, char character, int maxCount);

// A prefix of `text` ending at a natural break, with at least `minTokenCount` tokens by `encode`:
// the last sentence end (". ! ? newline"), else the last clause mark (", ; : - –"), else the text
// before the last space; each trimmed of white space. Only the last mark of each set is tried.
std::optional<std::string>
lastNaturalBoundary(const std::string& text, int minTokenCount,
                    const std::function<std::vector<int>(const std::string&)>& encode);

// Consecutive pieces of `size` elements, the last one holding the remainder. size ≤ 0 gives none.
template <class T> std::vector<std::vector<T>> batched(const std::vector<T>& items, int size) {
    std::vector<std::vector<T>> batches;
    if (size <= 0)
        return batches;
    for (std::size_t start = 0; start < items.size(); start += static_cast<std::size_t>(size)) {
        const std::size_t end = std::min(items.size(), start + static_cast<std::size_t>(size));
        batches.emplace_back(items.begin() + static_cast<std::ptrdiff_t>(start),
                             items.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return batches;
}

// The elements in order, keeping only the first occurrence of each value.
template <class T> std::vector<T> orderedSet(const std::vector<T>& items) {
    std::unordered_set<T> seen;
    std::vector<T> unique;
    for (const auto& item : items) {
        if (seen.insert(item).second)
            unique.push_back(item);
    }
    return unique;
}

} // namespace basalith
