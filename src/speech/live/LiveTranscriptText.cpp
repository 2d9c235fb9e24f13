#include "speech/live/LiveTranscriptText.h"

#include "platform/text/Characters.h"
#include "platform/text/Split.h"
#include "platform/text/Whitespace.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace velnote {

std::string liveTimePrefix(std::chrono::steady_clock::duration elapsed) {
    const auto seconds =
        std::max<long long>(0, std::chrono::duration_cast<std::chrono::seconds>(elapsed).count());
    std::array<char, 48> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "[%02lld:%02lld] ", seconds / 60, seconds % 60);
    return buffer.data();
}

bool shouldAcceptInterimText(std::string_view text) {
    if (platform::characterCount(text) < 2) {
        return false;
    }
    const std::string trimmed = platform::trimWhitespace(text);
    static constexpr std::array<std::string_view, 8> kMarks{".", ",", "。", "、", "?", "!", "？", "！"};
    const auto characters = platform::splitCharacters(trimmed);
    return std::any_of(characters.begin(), characters.end(), [](std::string_view character) {
        return std::find(kMarks.begin(), kMarks.end(), character) == kMarks.end();
    });
}

std::string joinedInterimTexts(const std::string& micText, const std::string& sysText) {
    if (micText.empty() || sysText.empty()) {
        return micText + sysText;
    }
    return micText + " / " + sysText;
}

std::string transcriptTail(const std::vector<std::string>& lines, std::size_t maxCharacters) {
    // Only as many lines from the end as can reach into the last maxCharacters characters.
    std::size_t characters = 0;
    auto first = lines.end();
    while (first != lines.begin() && characters <= maxCharacters) {
        --first;
        characters += platform::characterCount(*first) + 1;
    }
    const std::string text = platform::joined(std::vector<std::string>(first, lines.end()), "\n");
    const auto pieces = platform::splitCharacters(text);
    if (pieces.size() <= maxCharacters) {
        return text;
    }
    const auto start = pieces[pieces.size() - maxCharacters].data() - text.data();
    return text.substr(static_cast<std::size_t>(start));
}

} // namespace velnote
