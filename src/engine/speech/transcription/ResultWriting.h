#pragma once

#include "engine/speech/transcription/TranscriptionResult.h"

#include <any>
#include <map>
#include <string>
#include <variant>

namespace vocalith {

// Why a result file could not be written (encoding, a missing folder, permissions, a full disk).
struct ResultWriteError {
    std::string message;
};

// Success: the written file's absolute "file://" URL.
using ResultWriteOutcome = std::variant<std::string, ResultWriteError>;

// Saves results as files in one output folder; one writer serves any number of results.
class ResultWriting {
  public:
    virtual ~ResultWriting() = default;

    virtual const std::string& outputDir() const = 0;

    // Writes `<outputDir>/<file>.<extension>`, replacing an existing file whole: readers see the
    // old file or the new one, never a part. `file` is one file name without extension; a name with
    // "/" or NUL, or "", "." or "..", is refused. `options` is accepted for writers that need it.
    virtual ResultWriteOutcome write(const TranscriptionResult& result, const std::string& file,
                                     const std::map<std::string, std::any>& options = {}) = 0;

    // "HH:MM:SS<marker>mmm" (hours always, or when there are any), else "MM:SS<marker>mmm", rounded
    // to the nearest millisecond. Negative and NaN times print as 0, huge ones as 10^12 s.
    virtual std::string formatTime(float seconds, bool alwaysIncludeHours,
                                   const std::string& decimalMarker) const;

    // One SubRip cue: "<index>\n<start> --> <end>\n<text>\n\n", times with hours and ",".
    std::string formatSegment(long long index, float start, float end, const std::string& text) const;
    // One WebVTT cue: "<start> --> <end>\n<text>\n\n", times with hours only when needed and ".".
    std::string formatTiming(float start, float end, const std::string& text) const;

  protected:
    // The file for `file` with `extension`, or a failure for a name that is not one file name.
    std::variant<std::string, ResultWriteError> filePath(const std::string& file,
                                                         const std::string& extension) const;
    // Writes `bytes` atomically to `path`; the URL on success.
    static ResultWriteOutcome writeFile(const std::string& path, const std::string& bytes);
};

// Pretty-printed JSON of the result, members in field order.
class WriteJSON : public ResultWriting {
  public:
    explicit WriteJSON(std::string outputDir) : outputDir_(std::move(outputDir)) {}
    const std::string& outputDir() const override { return outputDir_; }
    ResultWriteOutcome write(const TranscriptionResult& result, const std::string& file,
                             const std::map<std::string, std::any>& options = {}) override;

  private:
    std::string outputDir_;
};

// SubRip subtitles: one numbered cue per word where a segment has words, else per segment.
class WriteSRT : public ResultWriting {
  public:
    explicit WriteSRT(std::string outputDir) : outputDir_(std::move(outputDir)) {}
    const std::string& outputDir() const override { return outputDir_; }
    ResultWriteOutcome write(const TranscriptionResult& result, const std::string& file,
                             const std::map<std::string, std::any>& options = {}) override;

  private:
    std::string outputDir_;
};

// WebVTT subtitles: the same cues as SubRip without numbers, after a "WEBVTT" header.
class WriteVTT : public ResultWriting {
  public:
    explicit WriteVTT(std::string outputDir) : outputDir_(std::move(outputDir)) {}
    const std::string& outputDir() const override { return outputDir_; }
    ResultWriteOutcome write(const TranscriptionResult& result, const std::string& file,
                             const std::map<std::string, std::any>& options = {}) override;

  private:
    std::string outputDir_;
};

} // namespace vocalith
