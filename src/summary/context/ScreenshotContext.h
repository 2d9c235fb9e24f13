#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The list of a session's screenshots offered to the model, so it can place
// relevant ones in the summary as "![description](PLACEHOLDER:<file name>)":
// one line per JPEG of "screencaptures" with its time from the recording start
// and its recognised text, then fixed Japanese instructions. For one
// time-aligned chunk the list is cut down to the chunk's stretch. Stateless;
// the folder is only read.
namespace velnote::SummaryContextBuilder {

using FileOcrTexts = std::map<std::string, std::string, std::less<>>; // file name → recognised text

struct SecondsRange {
    std::int64_t start = 0; // whole seconds from the recording start
    std::int64_t end = 0;   // inclusive

    bool operator==(const SecondsRange&) const = default;
};

// The whole screenshot context; std::nullopt without a "screencaptures" folder
// or a JPEG in it, or when the folder cannot be listed (logged).
std::optional<std::string> buildScreenshotContext(const std::filesystem::path& sessionDir,
                                                  std::string_view ocrContext);

// The context's lines for the sorted files (at least one).
std::vector<std::string> buildScreenshotContextLines(const std::vector<std::filesystem::path>& jpgFiles,
                                                     const FileOcrTexts& ocrByFile,
                                                     std::optional<std::chrono::sys_seconds> startDate);

// "- hh:mm:ss → <file>" (or "- <file>" without a time), then "  # OCR: " and
// the recognised lines joined with " / " when there is text.
std::string buildScreenshotContextLine(const std::filesystem::path& file, const FileOcrTexts& ocrByFile,
                                       std::optional<std::chrono::sys_seconds> startDate);

// The session's start from its folder name ("2025-01-31T09-15-00Z").
std::optional<std::chrono::sys_seconds> sessionStartDate(const std::filesystem::path& sessionDir);

// Seconds from `sessionStart` to the capture time in the file name
// ("0001_2025-01-31T09-15-00Z.jpg", "manual_2025-01-31T09-15-00Z_42.jpg"),
// at least 0; std::nullopt when the name holds no time.
std::optional<std::int64_t> screenshotRelativeSeconds(std::string_view filename,
                                                      std::chrono::sys_seconds sessionStart);

// File name → recognised text, from the OCR blocks and from the records of
// "ocr_context.jsonl"; a later entry for the same file wins.
FileOcrTexts parseOCRContextByFile(std::string_view ocrContext);

// The clock range a chunk label names ("時間帯 00:10:00 - 00:19:58", or one
// clock for both ends); std::nullopt without a clock or for an end before the start.
std::optional<SecondsRange> screenshotChunkTimeRange(std::string_view label);

struct FilteredScreenshotLines {
    std::vector<std::string> lines; // the timed lines inside the range, in order
    std::string exampleFileName;    // the file of the last of them; empty without lines
};
FilteredScreenshotLines filterScreenshotContextLines(std::string_view context, SecondsRange range);

// The screenshots of one chunk's stretch between a localized header and
// footer; std::nullopt when the label has no clock or no screenshot is in it.
std::optional<std::string> filterScreenshotContext(std::string_view context, std::string_view chunkLabel);

} // namespace velnote::SummaryContextBuilder
