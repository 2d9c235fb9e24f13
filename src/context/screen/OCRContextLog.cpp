#include "context/screen/OCRContextLog.h"

#include "platform/fs/Files.h"
#include "platform/json/Json.h"
#include "platform/text/CaseMapping.h"
#include "platform/text/Characters.h"
#include "platform/text/Split.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace velnote {
namespace {

// "12" or "3.5" as a number; none for anything else (a sign, spaces or trailing text included).
std::optional<double> number(std::string_view text) {
    if (text.empty() || text.front() == '-')
        return std::nullopt; // from_chars would take a minus sign
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// Seconds since the start that a "MM:SS" timestamp says; none when it says none.
std::optional<double> timestampSeconds(const std::string& timestamp) {
    std::vector<std::string> parts;
    for (std::string& part : platform::splitOn(timestamp, ":")) {
        if (!part.empty())
            parts.push_back(std::move(part));
    }
    if (parts.size() != 2)
        return std::nullopt;
    const auto minutes = number(parts[0]);
    const auto seconds = number(parts[1]);
    if (!minutes || !seconds)
        return std::nullopt;
    return *minutes * 60 + *seconds;
}

} // namespace

std::string OCRRecord::text() const {
    std::string joined;
    for (std::size_t i = 0; i < results.size(); ++i)
        joined += (i == 0 ? "" : " ") + results[i].text;
    return joined;
}

std::string OCRContextLog::elapsedText(std::chrono::system_clock::time_point start,
                                       std::chrono::system_clock::time_point time) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(time - start).count();
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return buffer;
}

std::string OCRContextLog::line(const OCRRecord& record,
                                std::chrono::system_clock::time_point sessionStartedAt, bool isManual) {
    platform::Json results = platform::Json::array();
    for (std::size_t i = 0; i < record.results.size() && i < 10; ++i) {
        const OCRResult& r = record.results[i];
        if (r.score >= 0.6)
            results.push_back({{"score", std::round(r.score * 100) / 100}, {"text", r.text}});
    }
    const platform::Json object = {
        {"filename", record.path.filename().string()},
        {"is_manual", isManual},
        {"results", std::move(results)},
        {"text", record.text()},
        {"timestamp", elapsedText(sessionStartedAt, record.timestamp)},
    };
    return platform::toCompactJson(object) + "\n";
}

std::string OCRContextLog::linesSince(std::string_view contents, double sinceSeconds) {
    if (platform::isBlank(contents))
        return {};
    std::string kept;
    for (const std::string& line : platform::splitOn(platform::trimWhitespace(contents), "\n")) {
        if (line.empty())
            continue;
        bool keep = true;
        try {
            const platform::Json json = platform::parseJson(line);
            const auto timestamp = json.is_object() ? json.find("timestamp") : json.end();
            if (timestamp != json.end() && timestamp->is_string()) {
                const auto seconds = timestampSeconds(timestamp->get<std::string>());
                keep = seconds ? *seconds >= sinceSeconds : !(sinceSeconds > 0);
            }
        } catch (const platform::JsonDecodeError& e) {
            VelnoteLogger::app().error("failed to parse OCR context JSON line: {}", e.what());
        }
        if (keep)
            kept += (kept.empty() ? "" : "\n") + line;
    }
    return kept;
}

bool OCRContextLog::writeBatch(const std::vector<std::string>& entries, const std::filesystem::path& file) {
    std::string bytes;
    for (const std::string& entry : entries)
        bytes += entry;
    std::error_code error;
    const bool existed = std::filesystem::is_regular_file(file, error);
    const std::uintmax_t sizeBefore = existed ? std::filesystem::file_size(file, error) : 0;
    try {
        // One append of the whole batch: a reader sees whole lines but for the one being written.
        platform::appendLines(file, bytes);
        return true;
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("OCR context: failed to append batch: {}", e.what());
    }
    // A write cut short must not leave half a line for the next batch to run into.
    if (!error && std::filesystem::is_regular_file(file, error))
        std::filesystem::resize_file(file, sizeBefore, error);
    return false;
}

bool OCRBatchWriter::write(std::vector<std::string> entries) {
    held_.insert(held_.end(), std::make_move_iterator(entries.begin()),
                 std::make_move_iterator(entries.end()));
    if (held_.empty())
        return true;
    if (OCRContextLog::writeBatch(held_, file_)) {
        held_.clear();
        return true;
    }
    if (held_.size() > kMaxHeldLines) {
        const std::size_t dropped = held_.size() - kMaxHeldLines;
        held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(dropped));
        VelnoteLogger::app().error("OCR context: dropped the {} oldest lines that could not be written",
                                   dropped);
    }
    VelnoteLogger::app().error("OCR context: {} lines kept for the next write", held_.size());
    return false;
}

std::string OCRContextLog::normalizeText(std::string_view text) {
    std::string joined;
    for (const std::string& piece : platform::splitOnWhitespace(platform::lowercased(text)))
        joined += piece;
    return joined;
}

std::vector<OCRResult> RecentOCRTexts::filterFixedText(const std::vector<OCRResult>& results) const {
    if (sets_.size() < threshold_)
        return results;
    std::vector<OCRResult> kept;
    for (const OCRResult& result : results) {
        const std::string normalized = OCRContextLog::normalizeText(result.text);
        std::size_t count = 0;
        for (const auto& set : sets_)
            count += !set.empty() && set.count(normalized) > 0 ? 1 : 0;
        if (count < threshold_) {
            kept.push_back(result);
        } else {
            VelnoteLogger::app().debug(
                "{} count={} text={}",
                L10n::localized("L10n.ScreenCapture.ocrExcludedFixedText", "OCR: 固定テキストとして除外"),
                count, platform::prefixCharacters(result.text, 40));
        }
    }
    return kept;
}

void RecentOCRTexts::update(const std::vector<std::string>& texts) {
    std::set<std::string> set;
    for (const std::string& text : texts)
        set.insert(OCRContextLog::normalizeText(text));
    sets_.push_back(std::move(set));
    while (sets_.size() > window_)
        sets_.pop_front();
}

} // namespace velnote
