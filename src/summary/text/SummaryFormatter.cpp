#include "summary/text/SummaryFormatter.h"

#include "platform/json/IsoDate.h"
#include "platform/text/CaseMapping.h"
#include "platform/text/Characters.h"
#include "platform/text/Split.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"
#include "summary/core/TextPattern.h"

#include <algorithm>
#include <map>
#include <set>

namespace velnote::SummaryFormatter {

namespace {

using platform::joined;
using platform::splitOn;
using platform::trimWhitespace;

const std::map<std::string, std::string, std::less<>>& outputLanguageAliases() {
    static const std::map<std::string, std::string, std::less<>> aliases = [] {
        const std::pair<const char*, std::vector<const char*>> table[] = {
            {"ja", {"ja-jp", "japanese", "日本語"}},
            {"en", {"en-us", "english", "英語"}},
            {"zh", {"zh-cn", "chinese", "simplified chinese", "中文简体"}},
            {"zh-tw", {"zh-hant", "traditional chinese", "中文繁體"}},
            {"ko", {"ko-kr", "korean", "한국어"}},
            {"fr", {"fr-fr", "french", "français"}},
            {"de", {"de-de", "german", "deutsch"}},
            {"es", {"es-es", "spanish", "español"}},
            {"it", {"it-it", "italian", "italiano"}},
            {"pt", {"pt-br", "portuguese", "português"}},
        };
        std::map<std::string, std::string, std::less<>> result;
        for (const auto& [code, names] : table) {
            result.emplace(code, code);
            for (const char* name : names)
                result.emplace(name, code);
        }
        return result;
    }();
    return aliases;
}

// Runs of carriage returns and line feeds as one space, trimmed.
std::string onOneLine(std::string_view text) {
    static const TextPattern breaks("[\\r\\n]+");
    return trimWhitespace(breaks.replacingMatches(text, " "));
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

std::size_t occurrences(std::string_view text, std::string_view word) {
    std::size_t count = 0;
    for (std::size_t at = text.find(word); at != std::string_view::npos;
         at = text.find(word, at + word.size()))
        ++count;
    return count;
}

// `text` cut before the first `marker`, trimmed; `text` itself when the marker is absent.
std::string beforeMarker(const std::string& text, std::string_view marker) {
    const std::size_t at = text.find(marker);
    return at == std::string::npos ? text : trimWhitespace(std::string_view(text).substr(0, at));
}

std::string withoutEndMarkers(const std::string& text) {
    std::string kept = trimWhitespace(beforeMarker(beforeMarker(text, "<|im_end|>"), "<|eot_id|>"));
    // A text that opens with a marker keeps it rather than vanish here.
    return kept.empty() ? text : kept;
}

std::string withoutReasoningBlock(const std::string& text) {
    const std::size_t open = text.find("<think>");
    if (open == std::string::npos)
        return text;
    const std::size_t close = text.find("</think>", open + 7);
    if (close == std::string::npos)
        return trimWhitespace(std::string_view(text).substr(0, open));
    return trimWhitespace(text.substr(0, open) + text.substr(close + 8));
}

std::string beforePipeRun(const std::string& text) {
    const std::size_t at = text.find("||");
    if (at == std::string::npos)
        return text;
    std::string before = trimWhitespace(std::string_view(text).substr(0, at));
    if (before.empty())
        return text;
    VelnoteLogger::summarize().error("truncated degenerate llama output at ||");
    return before;
}

std::string currentTime(const platform::Clock& clock) {
    return platform::formatIsoDate(clock.wallNow());
}

std::vector<std::string> bulletLines(const std::vector<std::string>& items, const std::string& whenEmpty) {
    if (items.empty())
        return {"- " + whenEmpty};
    std::vector<std::string> lines;
    for (const std::string& item : items)
        lines.push_back("- " + item);
    return lines;
}

} // namespace

std::string normalizedOutputLanguage(const std::optional<std::string>& value) {
    if (!value)
        return "ja";
    std::string code = platform::lowercased(trimWhitespace(*value));
    if (const auto alias = outputLanguageAliases().find(code); alias != outputLanguageAliases().end())
        code = alias->second;
    static const std::set<std::string, std::less<>> supported = {"ja", "en", "zh", "zh-tw", "ko",
                                                                 "fr", "de", "es", "it",    "pt"};
    return supported.contains(code) ? code : "ja";
}

bool isRepetitiveNoise(std::string_view text) {
    static const TextPattern punctuation("[、。,.!?！？\"「」『』\\s]");
    const std::string stripped = punctuation.replacingMatches(trimWhitespace(text), "");
    const std::vector<std::string_view> s = platform::splitCharacters(stripped);
    const std::size_t n = s.size();
    if (n <= 11)
        return false;
    if (std::all_of(s.begin(), s.end(), [&](std::string_view c) { return c == s.front(); }))
        return true;
    const std::size_t largestPeriod = n > 23 ? 12 : n / 2;
    for (std::size_t p = 2; p <= largestPeriod; ++p) {
        if (n % p != 0)
            continue;
        bool repeated = true;
        for (std::size_t i = p; i < n && repeated; ++i)
            repeated = s[i] == s[i % p];
        if (repeated)
            return true;
    }
    return false;
}

bool looksLikeHallucinatedLoop(std::string_view text) {
    const std::string t = onOneLine(text);
    if (t.empty() || isRepetitiveNoise(t))
        return true;
    static const TextPattern latinLoop("(?i)\\b([a-z]{1,4})(?:[-\\s]?\\1){6,}\\b");
    if (latinLoop.foundIn(t))
        return true;
    static const TextPattern separators("[-_\\s、,。.!?！？]");
    const std::string compact = separators.replacingMatches(t, "");
    const std::vector<std::string_view> characters = platform::splitCharacters(compact);
    if (characters.size() < 24)
        return false;
    // Distinct characters against the first hundred at most: a plain ratio over
    // the whole length would call any long ordinary text a loop, since an
    // alphabet has only so many letters.
    const std::set<std::string_view> distinct(characters.begin(), characters.end());
    const double sample = static_cast<double>(std::min<std::size_t>(characters.size(), 100));
    return static_cast<double>(distinct.size()) / sample < 0.18;
}

bool looksLikeUnsynthesizedFillerSpeech(std::string_view text) {
    const std::string t = onOneLine(text);
    if (t.empty() || platform::characterCount(t) >= 400)
        return false;
    static const TextPattern structure("(?m)^#{1,3}\\s|^\\s*\\|.*\\|\\s*$|^\\s*[-*]\\s");
    if (structure.foundIn(t))
        return false;
    static const char* const fillers[] = {"あのー", "あの、",   "えっと", "えーっと", "えー、",
                                          "まあ、", "なんか、", "うーん", "そのー",   "そのう"};
    std::size_t count = 0;
    for (const char* filler : fillers)
        count += occurrences(t, filler);
    return count >= 2 || contains(t, "。。") || contains(t, "、、、");
}

bool looksLikeMetaCommentaryOnly(std::string_view text) {
    if (trimWhitespace(text).empty())
        return false;
    static const TextPattern heading("(?m)^#{1,3}\\s");
    static const TextPattern tableRow("(?m)^\\s*\\|.*\\|\\s*$");
    if (heading.foundIn(text) || tableRow.foundIn(text))
        return false;
    static const TextPattern subject("議事録|要約|サマリ|ノート");
    static const TextPattern verb("作成しました|出力しました|生成しました|まとめました");
    return subject.foundIn(text) && verb.foundIn(text);
}

bool looksLikeStructuredDocument(std::string_view text) {
    const std::string trimmed = trimWhitespace(text);
    for (const std::string& line : splitOn(trimmed, "\n")) {
        if (line.empty())
            continue;
        return startsWith(platform::trimSpacesAndTabs(line), "#");
    }
    return false;
}

std::string truncateAtRawTranscriptLine(std::string_view text) {
    static const TextPattern transcriptLine(
        "^\\s*-?\\s*\\[(?:SYS |MIC )?SPEAKER_\\S+ \\d{2}:\\d{2}:\\d{2}\\]");
    const std::vector<std::string> lines = splitOn(text, "\n");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!transcriptLine.foundIn(lines[i]))
            continue;
        if (i == 0) {
            VelnoteLogger::summarize().error("discarded output that started with raw transcript line");
            return {};
        }
        VelnoteLogger::summarize().error("truncated degenerate llama output at raw transcript line {}", i);
        return trimWhitespace(joined(std::vector<std::string>(lines.begin(), lines.begin() + i), "\n"));
    }
    return std::string(text);
}

std::string sanitizeGeneratedOverview(std::string_view text) {
    std::string t = trimWhitespace(joined(splitOn(text, "\r\n"), "\n"));
    if (t.empty())
        return t;
    t = withoutEndMarkers(t);
    t = withoutReasoningBlock(t);
    t = beforePipeRun(t);
    t = truncateAtRawTranscriptLine(t);
    t = beforeMarker(t, "\n## Velnote");
    if (looksLikeHallucinatedLoop(t) || looksLikeUnsynthesizedFillerSpeech(t)) {
        VelnoteLogger::summarize().error("discarded degenerate llama output");
        return {};
    }
    return t;
}

SummaryTextResources summaryTextResources(std::string_view /*language*/) {
    const auto text = [](const char* field, const char* english) {
        return L10n::localized(std::string("L10n.Summarization.") + field, english);
    };
    return {
        .highlightsHeading = text("highlightsHeading", "Highlights"),
        .overviewHeading = text("overviewHeading", "Overview"),
        .decisionsHeading = text("decisionsHeading", "Decisions"),
        .todoHeading = text("todoHeading", "TODO"),
        .notesHeading = text("notesHeading", "Notes"),
        .noHighlights = text("noHighlights", "No meaningful utterances were found for summarization."),
        .noSpecialItems = text("noSpecialItems", "No notable items."),
        .shortSessionNoSpeech =
            text("shortSessionNoSpeech", "The recording is short and contains too little "
                                         "meaningful speech, so a detailed summary was skipped."),
        .shortSessionPrefix = text("shortSessionPrefix", "This is a short recording. Main utterances:"),
        .shortSessionMemo =
            text("shortSessionMemo",
                 "Because the recording is short, extraction of decisions and TODO items is limited."),
        .fallbackOverviewInsufficient =
            text("fallbackOverviewInsufficient", "Meaningful utterances were detected, but there is not "
                                                 "enough information to finalize key points."),
    };
}

std::string buildShortSessionSummary(const SummaryContext& context, std::string_view model,
                                     std::string_view outputLanguage, const platform::Clock& clock) {
    const SummaryTextResources resources = summaryTextResources(outputLanguage);
    std::string overview = resources.shortSessionNoSpeech;
    if (!context.meaningfulSegments.empty()) {
        std::vector<std::string> first;
        for (std::size_t i = 0; i < std::min<std::size_t>(2, context.meaningfulSegments.size()); ++i) {
            const Segment& segment = context.meaningfulSegments[i];
            first.push_back("[" + segment.timestamp + "] " + segment.text);
        }
        overview = resources.shortSessionPrefix + " " + joined(first, " / ");
    }
    return joined(
        {
            overview,
            "",
            resources.shortSessionMemo,
            "",
            "## Velnote Summary",
            "",
            "- provider: local",
            "- model: " + std::string(model),
            "- output_language: " + std::string(outputLanguage),
            "- generated_at: " + currentTime(clock),
            "- mode: short-session",
            "",
        },
        "\n");
}

std::string synthesizedOverview(const std::vector<std::string>& highlights,
                                const std::vector<std::string>& decisions,
                                const std::vector<std::string>& todos,
                                const SummaryTextResources& resources) {
    if (highlights.empty())
        return resources.fallbackOverviewInsufficient;
    std::vector<std::string> sentences;
    for (std::size_t i = 0; i < std::min<std::size_t>(2, highlights.size()); ++i) {
        const std::string& highlight = highlights[i];
        const std::size_t close = highlight.find(']');
        if (startsWith(highlight, "[") && close != std::string::npos)
            sentences.push_back(trimWhitespace(std::string_view(highlight).substr(close + 1)));
        else
            sentences.push_back(highlight);
    }
    if (!decisions.empty())
        sentences.push_back("決定事項が " + std::to_string(decisions.size()) + " 件抽出されました");
    if (!todos.empty())
        sentences.push_back("TODO が " + std::to_string(todos.size()) + " 件あります");
    return joined(sentences, "。") + "。";
}

std::string buildGenerativeSummaryText(const GenerativeSummaryTextRequest& request,
                                       const platform::Clock& clock) {
    const SummaryTextResources& resources = request.resources;
    std::vector<std::string> first;
    if (!request.overview.empty()) {
        first.push_back(request.overview);
        first.push_back("");
    }
    first.push_back(resources.highlightsHeading);
    for (std::string& line : bulletLines(request.highlights, resources.noHighlights))
        first.push_back(std::move(line));
    const std::string body = joined(
        {
            joined(first, "\n"),
            "",
            joined(bulletLines(request.decisions, resources.noSpecialItems), "\n"),
            "",
            joined(bulletLines(request.todos, resources.noSpecialItems), "\n"),
            "",
        },
        "\n");
    return body + "\n" + generativeSummaryFooter(request.model, request.outputLanguage, clock);
}

std::string generativeSummaryFooter(std::string_view model, std::string_view outputLanguage,
                                    const platform::Clock& clock) {
    return joined(
        {
            "## Velnote Summary",
            "",
            "- provider: local",
            "- model: " + std::string(model),
            "- engine: llama.cpp",
            "- output_language: " + std::string(outputLanguage),
            "- generated_at: " + currentTime(clock),
            "",
        },
        "\n");
}

} // namespace velnote::SummaryFormatter
