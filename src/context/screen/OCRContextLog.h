#pragma once

#include "context/ocr/OCRTypes.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// The OCR result of one screenshot.
struct OCRRecord {
    std::chrono::system_clock::time_point timestamp; // when the shot was taken
    std::filesystem::path path;                      // its JPEG
    std::vector<OCRResult> results;

    // The results' texts joined by one space.
    std::string text() const;
};

// The format of "ocr_context.jsonl" and the text filters of the screenshot monitor. Stateless
// functions; any thread.
//
// One compact JSON object a line, keys sorted: "filename" (the JPEG's name), "is_manual",
// "results" (of the first 10 results those scoring 0.6 or more, as {"score" rounded to two
// decimals, "text"}), "text" (all results) and "timestamp" ("MM:SS" since the recording started,
// minutes not capped).
struct OCRContextLog {
    static constexpr const char* kFileName = "ocr_context.jsonl";

    // "%02d:%02d" of the whole seconds (truncated) from `start` to `time`: 00:07, 65:03.
    static std::string elapsedText(std::chrono::system_clock::time_point start,
                                   std::chrono::system_clock::time_point time);

    // The record's line, ended by a line feed.
    static std::string line(const OCRRecord& record, std::chrono::system_clock::time_point sessionStartedAt,
                            bool isManual);

    // The lines of `contents` (the file's text) from `sinceSeconds` after the start on, unchanged
    // and in order, joined by line feeds. A line whose "timestamp" is two numbers around a colon
    // is kept when it is that late; one whose timestamp text says no time only for a limit of 0 or
    // less. Lines that are not JSON (logged), not an object or without a text "timestamp" are
    // kept: a last line caught half-written is returned as read.
    static std::string linesSince(std::string_view contents, double sinceSeconds);

    // Appends the entries to `file` in one write, creating it when missing; false on failure
    // (logged), with any part of the batch that reached the file taken back off it.
    static bool writeBatch(const std::vector<std::string>& entries, const std::filesystem::path& file);

    // Lower-cased and without any white space: how texts are compared across screenshots.
    static std::string normalizeText(std::string_view text);
};

// Writes batches of lines to one "ocr_context.jsonl". The lines of a batch that cannot be written
// are held and written before the next batch, so a passing failure (a full disk, a folder gone
// for a moment) loses nothing; beyond kMaxHeldLines the oldest held lines are dropped, logged.
// Not thread-safe: the monitor uses it only on its serial write queue.
class OCRBatchWriter {
  public:
    static constexpr std::size_t kMaxHeldLines = 1000;

    explicit OCRBatchWriter(std::filesystem::path file) : file_(std::move(file)) {}

    // Appends the held lines, then `entries`; false when they could not be written and are held.
    bool write(std::vector<std::string> entries);
    // Lines waiting for a write that works.
    std::size_t heldLines() const { return held_.size(); }

  private:
    std::filesystem::path file_;
    std::vector<std::string> held_;
};

// The texts of the last screenshots, to leave out what stays on screen all the time (menus,
// window titles, clocks): a text found in `threshold` (3) of the last `window` (8) recorded
// screenshots is fixed.
class RecentOCRTexts {
  public:
    explicit RecentOCRTexts(std::size_t window = 8, std::size_t threshold = 3)
        : window_(window), threshold_(threshold) {}

    // The results whose text is not fixed; all of them while fewer than `threshold` screenshots
    // are known. Logs each dropped text.
    std::vector<OCRResult> filterFixedText(const std::vector<OCRResult>& results) const;
    // Remembers a recorded screenshot's texts (the oldest beyond `window` are forgotten).
    void update(const std::vector<std::string>& texts);

  private:
    std::size_t window_;
    std::size_t threshold_;
    std::deque<std::set<std::string>> sets_;
};

} // namespace velnote
