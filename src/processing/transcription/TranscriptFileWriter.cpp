#include "processing/transcription/TranscriptFileWriter.h"

#include "platform/fs/Files.h"
#include "platform/text/Whitespace.h"

namespace velnote {

SessionTranscriptionOutput TranscriptFileWriter::write(const std::filesystem::path& sessionDir,
                                                       const std::vector<TranscriptEntry>& entries,
                                                       const std::vector<std::string>& rawTexts) const {
    const auto transcriptPath = sessionDir / "transcript.txt";
    const auto rawPath = sessionDir / "transcript.raw.txt";

    std::string transcript;
    for (const auto& entry : entries)
        transcript += singleLine(entry.line) + "\n";
    platform::writeFileAtomically(transcriptPath, transcript);

    std::string joined;
    for (std::size_t i = 0; i < rawTexts.size(); ++i)
        joined += (i == 0 ? "" : "\n") + rawTexts[i];
    std::string raw = platform::trimWhitespace(joined);
    if (!raw.empty())
        raw += "\n";
    platform::writeFileAtomically(rawPath, raw);

    return {transcriptPath, std::nullopt, std::nullopt};
}

std::string TranscriptFileWriter::singleLine(std::string_view line) {
    static constexpr std::string_view unicodeBreaks[] = {"\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"};
    std::string out;
    out.reserve(line.size());
    for (std::size_t i = 0; i < line.size();) {
        const char c = line[i];
        if (c == '\r' && i + 1 < line.size() && line[i + 1] == '\n') {
            out += ' ';
            i += 2;
            continue;
        }
        if (c == '\n' || c == '\r' || c == '\v' || c == '\f') {
            out += ' ';
            ++i;
            continue;
        }
        bool replaced = false;
        for (const auto breakBytes : unicodeBreaks) {
            if (line.substr(i).starts_with(breakBytes)) {
                out += ' ';
                i += breakBytes.size();
                replaced = true;
                break;
            }
        }
        if (!replaced)
            out += line[i++];
    }
    return out;
}

} // namespace velnote
