#include "summary/context/SummaryContextBuilder.h"

#include "platform/text/CaseMapping.h"
#include "platform/text/Characters.h"
#include "platform/text/Split.h"
#include "platform/text/Whitespace.h"
#include "session/l10n/L10n.h"
#include "summary/context/OCRContextRecords.h"
#include "summary/context/TimeAlignedChunking.h"
#include "summary/core/TextPattern.h"
#include "summary/text/SummaryFormatter.h"

#include <algorithm>
#include <charconv>
#include <set>

namespace velnote::SummaryContextBuilder {

namespace {

using platform::forEachPiece;
using platform::splitOn;
using platform::trimWhitespace;

std::int64_t byteSize(std::string_view text) {
    return static_cast<std::int64_t>(text.size());
}

// The pieces between newline characters (LF, VT, FF, CR, NEL, LS, PS).
std::vector<std::string> splitAtNewlines(std::string_view text) {
    static const TextPattern newline("[\\n\\x{000B}\\f\\r\\x{0085}\\x{2028}\\x{2029}]");
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (const platform::RegexMatch& match : newline.allMatches(text)) {
        pieces.emplace_back(text.substr(start, match.whole().begin - start));
        start = match.whole().end;
    }
    pieces.emplace_back(text.substr(start));
    return pieces;
}

// "[inside] rest" → (inside, rest), both trimmed; std::nullopt unless the line
// starts with "[" and holds a "]".
std::optional<std::pair<std::string, std::string>> bracketed(std::string_view line) {
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    const std::size_t close = line.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return std::pair{trimWhitespace(line.substr(1, close - 1)), trimWhitespace(line.substr(close + 1))};
}

std::optional<double> wholeNumber(std::string_view piece) {
    if (!piece.empty() && piece.front() == '+') {
        piece.remove_prefix(1);
        if (!piece.empty() && piece.front() == '-')
            return std::nullopt;
    }
    long long value = 0;
    const auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
    if (error != std::errc() || end != piece.data() + piece.size())
        return std::nullopt;
    return static_cast<double>(value);
}

// Pieces gathered in order into batches of at most `maxBytes`, a piece costing
// its size plus 1; each batch its pieces joined by line feeds.
std::vector<std::string> batched(const std::vector<std::string>& pieces, std::int64_t maxBytes) {
    std::vector<std::string> batches;
    std::vector<std::string> batch;
    std::int64_t cost = 0;
    for (const std::string& piece : pieces) {
        const std::int64_t pieceCost = byteSize(piece) + 1;
        if (!batch.empty() && cost + pieceCost > maxBytes) {
            batches.push_back(platform::joined(batch, "\n"));
            batch.clear();
            cost = 0;
        }
        batch.push_back(piece);
        cost += pieceCost;
    }
    if (!batch.empty())
        batches.push_back(platform::joined(batch, "\n"));
    return batches;
}

std::vector<std::string> linePieces(std::string_view text, std::int64_t maxBytes) {
    std::vector<std::string> pieces;
    for (const std::string& line : splitAtNewlines(trimWhitespace(text))) {
        for (std::string& piece : splitTextByByteLimit(line, maxBytes))
            pieces.push_back(std::move(piece));
    }
    return pieces;
}

std::vector<TimestampedEntry> parseOCRBlocks(std::string_view ocrContext) {
    std::vector<TimestampedEntry> entries;
    forEachPiece(ocrContext, "\n\n", [&entries](std::string_view rawBlock) {
        const std::string block = trimWhitespace(rawBlock);
        if (block.empty())
            return;
        std::vector<std::string> lines = splitOn(block, "\n");
        const auto header = bracketed(lines.front());
        if (!header)
            return;
        lines.erase(lines.begin());
        const std::string body = trimWhitespace(platform::joined(lines, "\n"));
        const std::optional<float> time = parseTimestamp(header->first);
        if (body.empty() || !time)
            return;
        const std::string& remainder = header->second;
        entries.push_back({.source = std::string(kScreenOCRSource),
                           .startTime = *time,
                           .text = remainder.empty() ? body : "[" + remainder + "] " + body});
    });
    return entries;
}

bool inTakenSet(std::set<std::string>& taken, const std::string& text) {
    return !taken.insert(text).second;
}

std::size_t effectiveLimit(std::int64_t limit) {
    return static_cast<std::size_t>(std::max<std::int64_t>(limit, 1));
}

std::string keepingCharacters(std::string_view text, std::size_t first, std::size_t count) {
    const std::vector<std::string_view> characters = platform::splitCharacters(text);
    if (first >= characters.size() || count == 0)
        return {};
    const char* begin = characters[first].data();
    const std::string_view last = characters[std::min(first + count, characters.size()) - 1];
    return std::string(begin, static_cast<std::size_t>(last.data() + last.size() - begin));
}

} // namespace

std::string conversationRecordLabel() {
    return L10n::localized("L10n.Summarization.conversationRecord", "Conversation Record");
}

std::string liveTranscriptLabel() {
    return L10n::localized("L10n.Summarization.liveTranscript", "Live Transcript");
}

std::string screenOCRLabel() {
    return L10n::localized("L10n.Summarization.screenOCR", "Screen OCR");
}

std::vector<SummarySourceChunk>
buildSourceChunks(std::string_view transcript, std::string_view liveTranscript, std::string_view ocrContext,
                  std::int64_t sourceChunkByteLimit, std::int64_t maxOCRChunks) {
    const std::string conversation = conversationRecordLabel();
    const std::string live = liveTranscriptLabel();
    const std::vector<TimestampedEntry> transcriptEntries = parseTimestampedLines(transcript, conversation);
    const std::vector<TimestampedEntry> liveEntries = parseTimestampedLines(liveTranscript, live);
    const std::vector<TimestampedEntry> screenEntries = parseOCRContextEntries(ocrContext);
    if (!transcriptEntries.empty() || !liveEntries.empty() || !screenEntries.empty())
        return buildTimeAlignedSourceChunks(transcriptEntries, liveEntries, screenEntries,
                                            sourceChunkByteLimit, maxOCRChunks);

    std::vector<SummarySourceChunk> chunks = splitLabeledText(transcript, conversation, sourceChunkByteLimit);
    if (!platform::isBlank(liveTranscript)) {
        for (SummarySourceChunk& chunk : splitLabeledText(liveTranscript, live, sourceChunkByteLimit))
            chunks.push_back(std::move(chunk));
    }
    if (!platform::isBlank(ocrContext)) {
        std::vector<SummarySourceChunk> screen =
            splitLabeledText(ocrContext, screenOCRLabel(), sourceChunkByteLimit);
        const std::size_t kept = std::min(screen.size(), effectiveLimit(maxOCRChunks));
        chunks.insert(chunks.end(), std::make_move_iterator(screen.end() - static_cast<std::ptrdiff_t>(kept)),
                      std::make_move_iterator(screen.end()));
    }
    return chunks;
}

std::vector<TimestampedEntry> parseTimestampedLines(std::string_view text, std::string_view source) {
    std::vector<TimestampedEntry> entries;
    forEachPiece(text, "\n", [&entries, source](std::string_view rawLine) {
        if (rawLine.empty())
            return;
        const auto parts = bracketed(trimWhitespace(rawLine));
        if (!parts)
            return;
        std::vector<std::string> words;
        for (std::string& word : splitOn(parts->first, " ")) {
            if (!word.empty())
                words.push_back(std::move(word));
        }
        std::optional<float> time;
        if (!words.empty()) {
            time = parseTimestamp(words.back());
            if (!time)
                time = parseTimestamp(words.front());
        }
        if (time && !parts->second.empty())
            entries.push_back({.source = std::string(source), .startTime = *time, .text = parts->second});
    });
    return entries;
}

std::vector<TimestampedEntry> parseOCRContextEntries(std::string_view ocrContext) {
    std::vector<TimestampedEntry> entries = parseOCRBlocks(ocrContext);
    // The context handed in is "ocr_context.jsonl": without its records the
    // screen text would never reach a summary.
    for (const OCRContextRecord& record : parseOCRContextRecords(ocrContext)) {
        const std::optional<float> time = parseTimestamp(record.timestamp);
        const std::string text = trimWhitespace(record.text);
        if (time && !text.empty())
            entries.push_back({.source = std::string(kScreenOCRSource),
                               .startTime = *time,
                               .text = "[" + record.filename + "] " + text});
    }
    return entries;
}

std::optional<float> parseTimestamp(std::string_view clock) {
    std::vector<double> numbers;
    for (const std::string& piece : splitOn(clock, ":")) {
        if (piece.empty())
            continue;
        const std::optional<double> number = wholeNumber(piece);
        if (!number)
            return std::nullopt;
        numbers.push_back(*number);
    }
    // In double: three pieces near the integer limit would overflow as integers.
    if (numbers.size() == 2)
        return static_cast<float>(numbers[0] * 60 + numbers[1]);
    if (numbers.size() == 3)
        return static_cast<float>(numbers[0] * 3600 + numbers[1] * 60 + numbers[2]);
    return std::nullopt;
}

std::vector<Segment> extractSegments(std::string_view transcript) {
    std::vector<Segment> segments;
    platform::forEachPiece(transcript, "\n", [&segments](std::string_view line) {
        if (const auto parts = bracketed(line); parts && !parts->second.empty())
            segments.push_back({.timestamp = parts->first, .text = parts->second});
    });
    return segments;
}

bool isMeaningful(std::string_view text) {
    const std::string t = trimWhitespace(text);
    if (platform::characterCount(t) < 4 || SummaryFormatter::isRepetitiveNoise(t))
        return false;
    static const TextPattern punctuation("[\"「」『』、,。.!?！？\\s]");
    const std::string s = punctuation.replacingMatches(t, "");
    if (platform::characterCount(s) < 8)
        return true;
    static const TextPattern kanaOnly("^[ぁ-んァ-ヶー]+$");
    return !kanaOnly.foundIn(s);
}

SummaryContext buildSummaryContext(const std::vector<Segment>& segments) {
    SummaryContext context;
    for (const Segment& segment : segments) {
        if (!isMeaningful(segment.text))
            continue;
        context.meaningfulSegments.push_back(segment);
        context.totalTextLength += static_cast<std::int64_t>(platform::characterCount(segment.text));
    }
    return context;
}

std::vector<std::string> splitTextByByteLimit(std::string_view text, std::int64_t maxBytes) {
    const std::string t = trimWhitespace(text);
    if (t.empty())
        return {};
    if (byteSize(t) <= maxBytes)
        return {t};
    std::vector<std::string> pieces;
    std::string piece;
    for (const std::string_view character : platform::splitCharacters(t)) {
        if (!piece.empty() && byteSize(piece) + byteSize(character) > maxBytes) {
            pieces.push_back(std::move(piece));
            piece.clear();
        }
        piece.append(character);
    }
    pieces.push_back(std::move(piece));
    return pieces;
}

std::vector<SummarySourceChunk> splitLabeledText(std::string_view text, std::string_view prefix,
                                                 std::int64_t maxBytes) {
    const std::vector<std::string> batches = batched(linePieces(text, maxBytes), maxBytes);
    std::vector<SummarySourceChunk> chunks;
    for (std::size_t i = 0; i < batches.size(); ++i) {
        chunks.push_back({.label = std::string(prefix) + " " + std::to_string(i + 1) + "/" +
                                   std::to_string(batches.size()),
                          .text = batches[i]});
    }
    return chunks;
}

std::vector<std::string> buildNoteChunks(const std::vector<std::string>& notes, std::int64_t maxBytes) {
    std::vector<std::string> items;
    for (const std::string& note : notes) {
        for (const std::string& piece : batched(linePieces(note, maxBytes / 2), maxBytes / 2))
            items.push_back("- " + trimWhitespace(piece));
    }
    return batched(items, maxBytes);
}

std::int64_t sentenceScore(std::string_view text) {
    static const char* const keywords[] = {
        "決定", "合意", "重要", "優先",   "対応", "TODO",       "期限", "リスク", "確認", "次回",
        "仕様", "権限", "付与", "メール", "URL",  "認証コード", "暗号", "解除",   "表示", "対象ユーザー"};
    std::int64_t score = 0;
    for (const char* keyword : keywords) {
        if (platform::containsIgnoringCase(text, keyword))
            score += 2;
    }
    score += std::min<std::int64_t>(static_cast<std::int64_t>(platform::characterCount(text)) / 50, 2);
    if (SummaryFormatter::isRepetitiveNoise(text))
        score -= 8;
    return score;
}

std::vector<std::string> topHighlights(const std::vector<Segment>& segments, std::int64_t limit) {
    const std::size_t wanted = effectiveLimit(limit);
    std::vector<std::pair<std::int64_t, const Segment*>> scored;
    for (const Segment& segment : segments)
        scored.emplace_back(sentenceScore(segment.text), &segment);
    std::stable_sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) {
        if (a.first != b.first)
            return a.first > b.first;
        return a.second->timestamp < b.second->timestamp;
    });
    std::vector<std::string> lines;
    std::set<std::string> taken;
    for (const auto& [score, segment] : scored) {
        const std::string t = trimWhitespace(segment->text);
        if (t.empty() || inTakenSet(taken, t))
            continue;
        lines.push_back("[" + segment->timestamp + "] " + t);
        if (lines.size() >= wanted)
            return lines;
    }
    if (lines.empty()) {
        for (std::size_t i = 0; i < std::min(wanted, segments.size()); ++i)
            lines.push_back("[" + segments[i].timestamp + "] " + segments[i].text);
    }
    return lines;
}

std::vector<std::string> filteredItems(const std::vector<Segment>& segments,
                                       const std::vector<std::string>& keywords, std::int64_t limit) {
    const std::size_t wanted = effectiveLimit(limit);
    std::vector<std::string> lines;
    std::set<std::string> taken;
    for (const Segment& segment : segments) {
        if (lines.size() >= wanted)
            break;
        if (SummaryFormatter::isRepetitiveNoise(segment.text))
            continue;
        const bool matched = std::any_of(keywords.begin(), keywords.end(), [&](const std::string& keyword) {
            return platform::containsIgnoringCase(segment.text, keyword);
        });
        const std::string t = trimWhitespace(segment.text);
        if (!matched || t.empty() || inTakenSet(taken, t))
            continue;
        lines.push_back("[" + segment.timestamp + "] " + t);
    }
    return lines;
}

std::string truncateFromHead(std::string_view text, std::int64_t maxBytes) {
    if (byteSize(text) <= maxBytes)
        return std::string(text);
    if (maxBytes <= 0)
        return {};
    const std::vector<std::string_view> characters = platform::splitCharacters(text);
    std::size_t count = std::min(characters.size(), static_cast<std::size_t>(maxBytes) * 2);
    const auto bytesOf = [&](std::size_t n) {
        return n == 0 ? 0
                      : byteSize(text.substr(0, characters[n - 1].data() + characters[n - 1].size() -
                                                    text.data()));
    };
    while (count > 0 && bytesOf(count) > maxBytes)
        count -= std::min<std::size_t>(count, 64);
    return keepingCharacters(text, 0, count);
}

std::string truncateFromTail(std::string_view text, std::int64_t maxBytes) {
    if (maxBytes <= 0)
        return byteSize(text) <= maxBytes ? std::string(text) : std::string();
    const std::vector<std::string_view> characters = platform::splitCharacters(text);
    std::size_t count = std::min(characters.size(), static_cast<std::size_t>(maxBytes) * 2);
    const auto bytesOf = [&](std::size_t n) {
        return n == 0 ? 0 : byteSize(text.substr(characters[characters.size() - n].data() - text.data()));
    };
    while (count > 0 && bytesOf(count) > maxBytes)
        count -= std::min<std::size_t>(count, 64);
    return keepingCharacters(text, characters.size() - count, count);
}

GenerationProfile generationProfile(std::string_view model) {
    if (model == "qwen2.5-3b-instruct-mlx-4bit" || model == "apple_local")
        return {6400, 7200, 320, 384, 800, 1};
    if (model == "qwen2.5-7b-instruct-mlx-4bit")
        return {20000, 14000, 600, 700, 1400, 6};
    if (model == "qwen3-8b-instruct-mlx-4bit")
        return {18000, 12000, 600, 700, 1400, 6};
    if (model == "llama3-8b-instruct-mlx-4bit")
        return {12000, 10000, 400, 480, 1000, 3};
    return {10000, 10000, 400, 480, 1000, 4};
}

} // namespace velnote::SummaryContextBuilder
