#include "engine/speech/tokenizer/TokenizerUtilities.h"

#include "engine/speech/Constants.h"
#include "platform/text/CaseMapping.h"
#include "platform/text/Whitespace.h"

#include <algorithm>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace vocalith {

std::string trimmingSpecialTokenCharacters(std::string_view text) {
    const auto first = text.find_first_not_of(Constants::specialTokenCharacters);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(Constants::specialTokenCharacters);
    return std::string(text.substr(first, last - first + 1));
}

std::string normalized(std::string_view text) {
    std::string lower = velnote::platform::lowercased(text);
    std::replace(lower.begin(), lower.end(), '-', ' ');
    std::string kept;
    const auto length = static_cast<int32_t>(lower.size());
    int32_t offset = 0;
    while (offset < length) {
        const int32_t start = offset;
        UChar32 c = 0;
        U8_NEXT(lower.data(), offset, length, c);
        if (c >= 0 && u_ispunct(c))
            continue;
        // Collapse runs of spaces as they come.
        if (c == ' ' && !kept.empty() && kept.back() == ' ')
            continue;
        kept.append(lower, static_cast<std::size_t>(start), static_cast<std::size_t>(offset - start));
    }
    return velnote::platform::trimWhitespace(kept);
}

bool contains(const std::vector<TranscriptionSegment>& segments, const TranscriptionSegment& segment) {
    return std::any_of(segments.begin(), segments.end(),
                       [&](const TranscriptionSegment& other) { return other.start == segment.start; });
}

} // namespace vocalith
