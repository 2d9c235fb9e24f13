#pragma once

#include "processing/transcription/SessionTranscriptionOutput.h"
#include "processing/transcription/TranscriptEntry.h"

#include <filesystem>
#include <string>
#include <vector>

namespace velnote {

// Writes a session's "transcript.txt" (one line per entry, in the given order)
// and "transcript.raw.txt" (the bare texts) in UTF-8 with LF line ends. No state.
class TranscriptFileWriter {
  public:
    // Replaces both files atomically, "transcript.txt" first; creates no folder.
    // A line break inside an entry's line is written as a space so that each
    // entry stays one line. The raw texts are joined with LF, trimmed, and end
    // in one LF unless nothing remains (then the file is empty). Throws
    // std::system_error; when the raw file fails, "transcript.txt" is already new.
    SessionTranscriptionOutput write(const std::filesystem::path& sessionDir,
                                     const std::vector<TranscriptEntry>& entries,
                                     const std::vector<std::string>& rawTexts) const;

    // `line` with each line break ("\r\n", LF, CR, VT, FF, U+0085, U+2028,
    // U+2029) replaced by one space.
    static std::string singleLine(std::string_view line);
};

} // namespace velnote
