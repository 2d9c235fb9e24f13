#include "engine/speech/transcription/ResultWriting.h"

#include "engine/speech/TextFormat.h"
#include "platform/fs/FileUrl.h"
#include "platform/fs/Files.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <system_error>

namespace vocalith {

namespace {

// Whole milliseconds, rounded: truncating would print 2.3 s (2.2999999523 as a float) as 2.299.
std::int64_t roundedMilliseconds(float seconds) {
    constexpr double kLargest = 1e12; // seconds; far beyond any recording, far below overflow
    const double value = static_cast<double>(seconds);
    if (!(value > 0))
        return 0;
    return std::llround(std::min(value, kLargest) * 1000.0);
}

std::string cues(const ResultWriting& writer, const TranscriptionResult& result, bool numbered) {
    std::string content;
    long long index = 1;
    const auto cue = [&](float start, float end, const std::string& text) {
        content +=
            numbered ? writer.formatSegment(index, start, end, text) : writer.formatTiming(start, end, text);
        ++index;
    };
    for (const auto& segment : result.segments()) {
        if (segment.words && !segment.words->empty()) {
            for (const auto& word : *segment.words)
                cue(word.start, word.end, word.word);
        } else {
            cue(segment.start, segment.end, segment.text);
        }
    }
    return content;
}

} // namespace

std::string ResultWriting::formatTime(float seconds, bool alwaysIncludeHours,
                                      const std::string& decimalMarker) const {
    const std::int64_t total = roundedMilliseconds(seconds);
    const auto hours = static_cast<long long>(total / 3600000);
    const auto minutes = static_cast<long long>(total % 3600000 / 60000);
    const auto secs = static_cast<long long>(total % 60000 / 1000);
    const auto millis = static_cast<long long>(total % 1000);
    if (alwaysIncludeHours || hours > 0)
        return cFormat("%02lld:%02lld:%02lld", hours, minutes, secs) + decimalMarker +
               cFormat("%03lld", millis);
    return cFormat("%02lld:%02lld", minutes, secs) + decimalMarker + cFormat("%03lld", millis);
}

std::string ResultWriting::formatSegment(long long index, float start, float end,
                                         const std::string& text) const {
    return std::to_string(index) + "\n" + formatTime(start, true, ",") + " --> " +
           formatTime(end, true, ",") + "\n" + text + "\n\n";
}

std::string ResultWriting::formatTiming(float start, float end, const std::string& text) const {
    return formatTime(start, false, ".") + " --> " + formatTime(end, false, ".") + "\n" + text + "\n\n";
}

std::variant<std::string, ResultWriteError> ResultWriting::filePath(const std::string& file,
                                                                    const std::string& extension) const {
    if (file.empty() || file == "." || file == ".." || file.find('/') != std::string::npos ||
        file.find('\0') != std::string::npos)
        return ResultWriteError{"Not a file name: \"" + file + "\""};
    return (std::filesystem::path(outputDir()) / (file + "." + extension)).string();
}

ResultWriteOutcome ResultWriting::writeFile(const std::string& path, const std::string& bytes) {
    try {
        velnote::platform::writeFileAtomically(path, bytes);
        return velnote::platform::fileUrl(std::filesystem::absolute(path).lexically_normal());
    } catch (const std::exception& error) {
        return ResultWriteError{error.what()};
    }
}

ResultWriteOutcome WriteJSON::write(const TranscriptionResult& result, const std::string& file,
                                    const std::map<std::string, std::any>&) {
    const auto path = filePath(file, "json");
    if (const auto* failure = std::get_if<ResultWriteError>(&path))
        return *failure;
    std::string bytes;
    try {
        // Invalid UTF-8 (a token cut inside a character) becomes U+FFFD rather than failing the file.
        bytes = OrderedJson(result).dump(2, ' ', false, OrderedJson::error_handler_t::replace) + "\n";
    } catch (const std::exception& error) {
        return ResultWriteError{error.what()};
    }
    return writeFile(std::get<std::string>(path), bytes);
}

ResultWriteOutcome WriteSRT::write(const TranscriptionResult& result, const std::string& file,
                                   const std::map<std::string, std::any>&) {
    const auto path = filePath(file, "srt");
    if (const auto* failure = std::get_if<ResultWriteError>(&path))
        return *failure;
    return writeFile(std::get<std::string>(path), cues(*this, result, true));
}

ResultWriteOutcome WriteVTT::write(const TranscriptionResult& result, const std::string& file,
                                   const std::map<std::string, std::any>&) {
    const auto path = filePath(file, "vtt");
    if (const auto* failure = std::get_if<ResultWriteError>(&path))
        return *failure;
    return writeFile(std::get<std::string>(path), "WEBVTT\n\n" + cues(*this, result, false));
}

} // namespace vocalith
