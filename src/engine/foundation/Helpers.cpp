#include "engine/foundation/Helpers.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fnmatch.h>
#include <pwd.h>
#include <unistd.h>

namespace basalith {
namespace {

std::optional<std::string> homeOf(const std::string& user) {
    if (user.empty()) {
        if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
            return std::string(home);
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    const int rc = user.empty() ? ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found)
                                : ::getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (rc != 0 || found == nullptr)
        return std::nullopt;
    return std::string(found->pw_dir);
}

// "~" or "~user" at the start, as shells expand it; an unknown user leaves the path unchanged.
std::string expandTilde(const std::string& path) {
    if (path.empty() || path[0] != '~')
        return path;
    const auto slash = path.find('/');
    const std::string user = path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    auto home = homeOf(user);
    if (!home)
        return path;
    return *home + (slash == std::string::npos ? "" : path.substr(slash));
}

std::string trimmed(std::string_view text) {
    constexpr std::string_view space = " \t\n\r\v\f";
    const auto first = text.find_first_not_of(space);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(space);
    return std::string(text.substr(first, last - first + 1));
}

// The prefix through the last of `marks`, trimmed; none when no mark occurs.
std::optional<std::string> prefixThroughLast(const std::string& text,
                                             const std::vector<std::string_view>& marks) {
    std::optional<std::size_t> end;
    for (auto mark : marks) {
        const auto at = text.rfind(mark);
        if (at != std::string::npos && (!end || at + mark.size() > *end))
            end = at + mark.size();
    }
    if (!end)
        return std::nullopt;
    return trimmed(std::string_view(text).substr(0, *end));
}

} // namespace

float rounded(float value, int places) {
    const float factor = std::pow(10.0f, static_cast<float>(places));
    if (factor == 0.0f)
        return 0.0f; // a step beyond the float range: every value rounds to 0
    const float scaled = value * factor;
    if (!std::isfinite(scaled))
        return value; // more places than a float holds: the value is already that precise
    return std::round(scaled) / factor;
}

std::string resolveAbsolutePath(const std::string& path) {
    std::string expanded = expandTilde(path);
    if (!expanded.empty() && expanded[0] == '/')
        return expanded;
    return (std::filesystem::current_path() / expanded).string();
}

bool globMatches(const std::string& pattern, const std::string& text) {
    return ::fnmatch(pattern.c_str(), text.c_str(), 0) == 0;
}

std::vector<std::string> matchingGlob(const std::vector<std::string>& texts, const std::string& pattern) {
    std::vector<std::string> matches;
    for (const auto& text : texts) {
        if (globMatches(pattern, text))
            matches.push_back(text);
    }
    return matches;
}

std::string trimmingFromEnd(const std::string& text, char character, int maxCount) {
    std::size_t end = text.size();
    for (int removed = 0; removed < maxCount && end > 0 && text[end - 1] == character; ++removed)
        --end;
    return text.substr(0, end);
}

std::optional<std::string>
lastNaturalBoundary(const std::string& text, int minTokenCount,
                    const std::function<std::vector<int>(const std::string&)>& encode) {
    if (text.empty())
        return std::nullopt;
    auto longEnough = [&](const std::string& candidate) {
        return static_cast<int>(encode(candidate).size()) >= minTokenCount;
    };
    for (const auto& marks : {std::vector<std::string_view>{".", "!", "?", "\n"},
                              std::vector<std::string_view>{",", ";", ":", "-", "\u2013"}}) {
        if (auto candidate = prefixThroughLast(text, marks); candidate && longEnough(*candidate))
            return candidate;
    }
    if (const auto space = text.rfind(' '); space != std::string::npos) {
        std::string candidate = trimmed(std::string_view(text).substr(0, space));
        if (longEnough(candidate))
            return candidate;
    }
    return std::nullopt;
}

} // namespace basalith
