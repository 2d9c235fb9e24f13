#include "processing/transcription/TranscriptTextSanitizer.h"

#include "platform/text/CaseMapping.h"
#include "platform/text/Normalization.h"
#include "platform/text/Regex.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"
#include "session/settings/HallucinationFilterStore.h"

#include <optional>
#include <set>
#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <unordered_set>

namespace velnote {
namespace {

const std::unordered_set<std::string>& knownNoisePhrases() {
    static const std::unordered_set<std::string> phrases = {"[silence]",
                                                            "[blank_audio]",
                                                            "[blank audio]",
                                                            "[inaudible]",
                                                            "[noise]",
                                                            "[music]",
                                                            "[applause]",
                                                            "[laughter]",
                                                            "[typing]",
                                                            "[keyboard]",
                                                            "[clicking]",
                                                            "[speaking in japanese]",
                                                            "[speaking in english]",
                                                            "[speaking in chinese]",
                                                            "[speaking in korean]",
                                                            "[ silence ]",
                                                            "[ blank_audio ]"};
    return phrases;
}

// Absent when it does not compile (logged once); the bracket test is then skipped.
const std::optional<platform::Regex>& bracketNoisePattern() {
    static const std::optional<platform::Regex> pattern = []() -> std::optional<platform::Regex> {
        try {
            return platform::Regex(R"(^\s*[\[\(][^\]\)]{1,60}[\]\)]\s*$)", {.caseInsensitive = true});
        } catch (const platform::RegexError& error) {
            VelnoteLogger::processing().error("failed to compile bracket noise regex: {}", error.what());
            return std::nullopt;
        }
    }();
    return pattern;
}

// Tab and the space separators: white space that is not a line break.
bool isSpaceOnly(UChar32 c) {
    return c == '\t' || u_charType(c) == U_SPACE_SEPARATOR;
}

std::string trimSpacesOnly(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t begin = 0;
    while (begin < length) {
        int32_t next = begin;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        if (c < 0 || !isSpaceOnly(c))
            break;
        begin = next;
    }
    int32_t end = length;
    while (end > begin) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(bytes, begin, previous, c);
        if (c < 0 || !isSpaceOnly(c))
            break;
        end = previous;
    }
    return std::string(text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin)));
}

bool isRepetitiveList(std::string_view text) {
    static constexpr std::string_view separators[] = {",", "、", "・"};
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t matched = 0;
        for (const auto separator : separators) {
            if (text.substr(i).starts_with(separator))
                matched = separator.size();
        }
        if (matched == 0) {
            ++i;
            continue;
        }
        pieces.emplace_back(text.substr(start, i - start));
        i += matched;
        start = i;
    }
    pieces.emplace_back(text.substr(start));
    if (pieces.size() < 9)
        return false;
    std::set<std::string> distinct;
    for (const auto& piece : pieces)
        distinct.insert(platform::nfc(trimSpacesOnly(piece)));
    return static_cast<double>(distinct.size()) / static_cast<double>(pieces.size()) < 0.5;
}

void removeAll(std::string& text, std::string_view phrase) {
    std::string out;
    std::size_t from = 0;
    for (auto at = text.find(phrase); at != std::string::npos; at = text.find(phrase, from)) {
        out.append(text, from, at - from);
        from = at + phrase.size();
    }
    out.append(text, from, std::string::npos);
    text = std::move(out);
}

} // namespace

TranscriptTextSanitizer::TranscriptTextSanitizer(std::vector<std::string> phrases) {
    for (const auto& phrase : phrases) {
        if (!phrase.empty())
            phrases_.push_back(platform::nfc(phrase));
    }
}

TextSanitizer TranscriptTextSanitizer::createTextSanitizer(platform::SettingsStore& settings) {
    return TranscriptTextSanitizer(HallucinationFilterStore::enabledPhrases(settings));
}

std::string TranscriptTextSanitizer::operator()(std::string_view text) const {
    std::string trimmed = platform::trimWhitespace(text);
    if (isHallucination(trimmed))
        return {};
    if (phrases_.empty())
        return trimmed;
    std::string cleaned = platform::nfc(trimmed);
    for (const auto& phrase : phrases_)
        removeAll(cleaned, phrase);
    return platform::trimWhitespace(cleaned);
}

bool TranscriptTextSanitizer::isHallucination(std::string_view text) {
    const std::string trimmed = platform::trimWhitespace(text);
    if (trimmed.empty())
        return true;
    if (knownNoisePhrases().count(platform::lowercased(trimmed)))
        return true;
    if (const auto& pattern = bracketNoisePattern(); pattern && pattern->matches(trimmed))
        return true;
    return isRepetitiveList(trimmed);
}

} // namespace velnote
