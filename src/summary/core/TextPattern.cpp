#include "summary/core/TextPattern.h"

#include "session/VelnoteLogger.h"

namespace velnote {

TextPattern::TextPattern(std::string_view pattern, platform::RegexOptions options) : pattern_(pattern) {
    try {
        regex_.emplace(pattern, options);
    } catch (const platform::RegexError& e) {
        VelnoteLogger::summarize().error("failed to compile regex {}: {}", pattern_, e.what());
    }
}

std::optional<platform::RegexMatch> TextPattern::firstMatch(std::string_view text) const {
    if (!regex_)
        return std::nullopt;
    try {
        return regex_->search(text);
    } catch (const platform::RegexError& e) {
        VelnoteLogger::summarize().error("regex {} gave up: {}", pattern_, e.what());
        return std::nullopt;
    }
}

std::vector<platform::RegexMatch> TextPattern::allMatches(std::string_view text) const {
    if (!regex_)
        return {};
    try {
        return regex_->findAll(text);
    } catch (const platform::RegexError& e) {
        VelnoteLogger::summarize().error("regex {} gave up: {}", pattern_, e.what());
        return {};
    }
}

std::string TextPattern::replacingMatches(std::string_view text, std::string_view replacement) const {
    const std::vector<platform::RegexMatch> matches = allMatches(text);
    std::string out;
    std::size_t copied = 0;
    for (const platform::RegexMatch& match : matches) {
        out.append(text.substr(copied, match.whole().begin - copied));
        out.append(replacement);
        copied = match.whole().end;
    }
    out.append(text.substr(copied));
    return out;
}

} // namespace velnote
