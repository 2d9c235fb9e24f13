#include "summary/context/ScreenshotContext.h"

#include "platform/fs/Files.h"
#include "platform/json/IsoDate.h"
#include "platform/text/CaseMapping.h"
#include "platform/text/Split.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"
#include "summary/context/OCRContextRecords.h"
#include "summary/core/TextPattern.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace velnote::SummaryContextBuilder {

namespace {

namespace fs = std::filesystem;
using platform::joined;
using platform::splitOn;

// "2025-01-31" and "09-15-00Z" read as 2025-01-31T09:15:00Z.
std::optional<std::chrono::sys_seconds> dateAndDashedTime(std::string_view text) {
    const std::size_t t = text.find('T');
    if (t == std::string_view::npos)
        return std::nullopt;
    std::string time(text.substr(t + 1));
    std::replace(time.begin(), time.end(), '-', ':');
    return platform::parseIsoDate(std::string(text.substr(0, t)) + "T" + time);
}

std::string clockText(std::int64_t seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds % 3600 / 60), static_cast<long long>(seconds % 60));
    return text;
}

std::int64_t number(const std::optional<platform::RegexCapture>& group) {
    std::int64_t value = 0;
    if (group)
        std::from_chars(group->text.data(), group->text.data() + group->text.size(), value);
    return value;
}

std::int64_t clockSeconds(const platform::RegexMatch& match, std::size_t firstGroup) {
    return number(match.groups[firstGroup]) * 3600 + number(match.groups[firstGroup + 1]) * 60 +
           number(match.groups[firstGroup + 2]);
}

std::string ocrNote(const std::string& text) {
    std::vector<std::string> lines;
    for (const std::string& line : splitOn(text, "\n")) {
        std::string trimmed = platform::trimSpacesAndTabs(line);
        if (!trimmed.empty())
            lines.push_back(std::move(trimmed));
    }
    return lines.empty() ? std::string() : "  # OCR: " + joined(lines, " / ");
}

bool isJpeg(const fs::path& file) {
    const std::string extension = platform::lowercased(file.extension().string());
    return extension == ".jpg" || extension == ".jpeg";
}

} // namespace

std::optional<std::string> buildScreenshotContext(const fs::path& sessionDir, std::string_view ocrContext) {
    const fs::path folder = sessionDir / "screencaptures";
    std::error_code error;
    if (!fs::exists(folder, error))
        return std::nullopt;
    std::vector<fs::path> entries = platform::listDirectory(folder, platform::HiddenEntries::skip, error);
    if (error) {
        VelnoteLogger::summarize().error("failed to read screencaptures directory: {}", error.message());
        return std::nullopt;
    }
    std::vector<fs::path> jpegs;
    std::copy_if(entries.begin(), entries.end(), std::back_inserter(jpegs), isJpeg);
    if (jpegs.empty())
        return std::nullopt;
    std::sort(jpegs.begin(), jpegs.end(), [](const fs::path& a, const fs::path& b) {
        return a.filename().string() < b.filename().string();
    });
    return joined(
        buildScreenshotContextLines(jpegs, parseOCRContextByFile(ocrContext), sessionStartDate(sessionDir)),
        "\n");
}

std::vector<std::string> buildScreenshotContextLines(const std::vector<fs::path>& jpgFiles,
                                                     const FileOcrTexts& ocrByFile,
                                                     std::optional<std::chrono::sys_seconds> startDate) {
    std::vector<std::string> lines = {"", "---", "## 利用可能なスクリーンショット（録音開始からの相対時間）",
                                      ""};
    for (const fs::path& file : jpgFiles)
        lines.push_back(buildScreenshotContextLine(file, ocrByFile, startDate));
    const std::string example = jpgFiles.empty() ? std::string() : jpgFiles.front().filename().string();
    lines.insert(
        lines.end(),
        {
            "",
            "上記スクリーンショットのうち、議事録のトピックと明確に関連するものだけを選んでください。",
            "会議のトピックと無関係なスクリーンショット（デスクトップ・ロック画面・無関係なアプリ画面など）は"
            "挿入しないでください。",
            "OCR がある場合は画像内の文言も踏まえて関連度を判断してください。",
            "必要なら同一トピックに複数枚の画像を挿入して構いませんが、重複する情報の画像は避けてください。",
            "挿入形式は ![説明](PLACEHOLDER:ファイル名) としてください（例: ![スライド](PLACEHOLDER:" +
                example + ")）。",
        });
    return lines;
}

std::string buildScreenshotContextLine(const fs::path& file, const FileOcrTexts& ocrByFile,
                                       std::optional<std::chrono::sys_seconds> startDate) {
    const std::string name = file.filename().string();
    std::optional<std::int64_t> seconds;
    if (startDate)
        seconds = screenshotRelativeSeconds(name, *startDate);
    std::string line = seconds ? "- " + clockText(*seconds) + " → " + name : "- " + name;
    if (const auto ocr = ocrByFile.find(name);
        ocr != ocrByFile.end() && !ocr->second.empty() && ocr->second != "(テキストなし)")
        line += ocrNote(ocr->second);
    return line;
}

std::optional<std::chrono::sys_seconds> sessionStartDate(const fs::path& sessionDir) {
    return dateAndDashedTime(sessionDir.filename().string());
}

std::optional<std::int64_t> screenshotRelativeSeconds(std::string_view filename,
                                                      std::chrono::sys_seconds sessionStart) {
    const std::string stem = fs::path(std::string(filename)).stem().string();
    const std::size_t underscore = stem.find('_');
    if (underscore == std::string::npos)
        return std::nullopt;
    std::string_view time = std::string_view(stem).substr(underscore + 1);
    // Manual shots carry a random number after the time: "manual_<time>_<n>".
    time = time.substr(0, time.find('_'));
    const std::optional<std::chrono::sys_seconds> taken = dateAndDashedTime(time);
    if (!taken)
        return std::nullopt;
    return std::max<std::int64_t>((*taken - sessionStart).count(), 0);
}

FileOcrTexts parseOCRContextByFile(std::string_view ocrContext) {
    FileOcrTexts texts;
    platform::forEachPiece(ocrContext, "\n\n", [&texts](std::string_view rawBlock) {
        const std::string block = platform::trimWhitespace(rawBlock);
        if (block.empty() || block.front() != '[')
            return;
        std::vector<std::string> lines = splitOn(block, "\n");
        const std::size_t close = lines.front().find(']');
        if (close == std::string::npos)
            return;
        const std::string key =
            platform::trimSpacesAndTabs(std::string_view(lines.front()).substr(close + 1));
        if (key.empty())
            return;
        lines.erase(lines.begin());
        texts.insert_or_assign(key, platform::trimWhitespace(joined(lines, "\n")));
    });
    // The context handed in is "ocr_context.jsonl": its records name the files.
    for (const OCRContextRecord& record : parseOCRContextRecords(ocrContext))
        texts.insert_or_assign(record.filename, platform::trimWhitespace(record.text));
    return texts;
}

std::optional<SecondsRange> screenshotChunkTimeRange(std::string_view label) {
    static const TextPattern clocks("(\\d{2}):(\\d{2}):(\\d{2})(?:\\s*-\\s*(\\d{2}):(\\d{2}):(\\d{2}))?");
    const std::optional<platform::RegexMatch> match = clocks.firstMatch(label);
    if (!match)
        return std::nullopt;
    const std::int64_t start = clockSeconds(*match, 1);
    const std::int64_t end = match->groups[4] ? clockSeconds(*match, 4) : start;
    if (end < start)
        return std::nullopt;
    return SecondsRange{start, end};
}

FilteredScreenshotLines filterScreenshotContextLines(std::string_view context, SecondsRange range) {
    static const TextPattern timedLine("^- (\\d{2}):(\\d{2}):(\\d{2}) → (.+)$");
    FilteredScreenshotLines result;
    if (!timedLine.compiled())
        return result;
    for (const std::string& line : splitOn(context, "\n")) {
        const std::optional<platform::RegexMatch> match = timedLine.firstMatch(line);
        if (!match)
            continue;
        const std::int64_t t = clockSeconds(*match, 1);
        if (t < range.start || t > range.end)
            continue;
        result.lines.push_back(line);
        const std::string& rest = match->groups[4]->text;
        result.exampleFileName = rest.substr(0, rest.find("  "));
    }
    return result;
}

std::optional<std::string> filterScreenshotContext(std::string_view context, std::string_view chunkLabel) {
    const std::optional<SecondsRange> range = screenshotChunkTimeRange(chunkLabel);
    if (!range)
        return std::nullopt;
    FilteredScreenshotLines filtered = filterScreenshotContextLines(context, *range);
    if (filtered.lines.empty())
        return std::nullopt;
    const std::string header = L10n::localized(
        "L10n.Summarization.screenshotHeader",
        "Screenshots for this time period (%@ - %@):", {clockText(range->start), clockText(range->end)});
    const std::string footer =
        L10n::localized("L10n.Summarization.screenshotFooter",
                        "Include relevant images in the intermediate note using the format"
                        "`![description](PLACEHOLDER:%@)` (use actual filenames following this example).",
                        {filtered.exampleFileName});
    filtered.lines.insert(filtered.lines.begin(), header);
    filtered.lines.push_back(footer);
    return joined(filtered.lines, "\n");
}

} // namespace velnote::SummaryContextBuilder
