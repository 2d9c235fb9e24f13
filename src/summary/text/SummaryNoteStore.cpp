#include "summary/text/SummaryNoteStore.h"

#include "platform/fs/Files.h"
#include "platform/text/Characters.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"

#include <cstdio>
#include <system_error>

namespace velnote {

namespace {

namespace fs = std::filesystem;

fs::path intermediateFolder(const fs::path& sessionDir) {
    return sessionDir / "intermediate";
}

void writeIntoFolder(const fs::path& sessionDir, const std::string& fileName, std::string_view content) {
    const fs::path folder = intermediateFolder(sessionDir);
    platform::createDirectories(folder);
    platform::writeFileAtomically(folder / fileName, content);
}

std::string trimmedUnderscores(std::string_view text) {
    const std::size_t begin = text.find_first_not_of('_');
    if (begin == std::string_view::npos)
        return {};
    const std::size_t end = text.find_last_not_of('_');
    return std::string(text.substr(begin, end - begin + 1));
}

std::string numbered(std::string_view label, std::int64_t index) {
    char number[32];
    std::snprintf(number, sizeof number, "%03lld", static_cast<long long>(index) + 1);
    return std::string(number) + "_" + SummaryNoteStore::fileLabel(label);
}

std::string endsRemoved(std::string_view text, std::string_view suffix) {
    if (text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix)
        return std::string(text.substr(0, text.size() - suffix.size()));
    return std::string(text);
}

std::string inputHeader(std::string_view label) {
    return "# Intermediate note input\nlabel: " + std::string(label) + "\n\n";
}

} // namespace

namespace SummaryNoteStore {

std::string fileLabel(std::string_view label) {
    const std::string trimmed = platform::trimWhitespace(label);
    std::string safe = trimmedUnderscores(platform::replacingNonAlphanumerics(trimmed, "-_ ", "_"));
    return safe.empty() ? "chunk" : safe;
}

std::string noteFileName(std::string_view label, std::int64_t index) {
    return numbered(label, index) + ".txt";
}

std::string noteInputFileName(std::string_view label, std::int64_t index) {
    return numbered(label, index) + "_input.txt";
}

void saveIntermediateNoteInputShared(std::string_view label, std::string_view system, std::string_view user,
                                     std::int64_t index, const std::optional<fs::path>& sessionDir) {
    if (!sessionDir)
        return;
    const std::string content =
        inputHeader(label) + "## System\n" + std::string(system) + "\n\n## User\n" + std::string(user);
    try {
        writeIntoFolder(*sessionDir, noteInputFileName(label, index), content);
    } catch (const std::exception& e) {
        VelnoteLogger::summarize().error("failed to save intermediate note input '{}': {}", label, e.what());
    }
}

void saveIntermediateNoteShared(std::string_view note, std::string_view label, std::int64_t index,
                                const std::optional<fs::path>& sessionDir) {
    if (!sessionDir)
        return;
    try {
        writeIntoFolder(*sessionDir, noteFileName(label, index), note);
    } catch (const std::exception& e) {
        VelnoteLogger::summarize().error("failed to save intermediate note '{}': {}", label, e.what());
    }
}

std::optional<std::string> loadIntermediateNoteShared(std::string_view label, std::int64_t index,
                                                      const std::optional<fs::path>& sessionDir) {
    if (!sessionDir)
        return std::nullopt;
    try {
        std::string note = platform::readFile(intermediateFolder(*sessionDir) / noteFileName(label, index));
        if (!platform::isValidUtf8(note))
            throw std::runtime_error("not UTF-8 text");
        return note;
    } catch (const std::exception& e) {
        VelnoteLogger::processing().debug("intermediate note not cached '{}': {}", label, e.what());
        return std::nullopt;
    }
}

} // namespace SummaryNoteStore

namespace SummaryFormatter {

void saveIntermediateNoteInput(const SummarySourceChunk& chunk, std::string_view prompt, std::int64_t index,
                               const fs::path& sessionDir) {
    // The chat frame ends with the opening of the model's turn, with or without
    // its line feed; neither belongs to what was asked.
    const std::string asked =
        endsRemoved(endsRemoved(prompt, "\n<|im_start|>assistant\n"), "\n<|im_start|>assistant");
    writeIntoFolder(sessionDir, SummaryNoteStore::noteInputFileName(chunk.label, index),
                    inputHeader(chunk.label) + "## Prompt\n" + asked);
}

void saveIntermediateNote(std::string_view note, std::string_view label, std::int64_t index,
                          const fs::path& sessionDir) {
    writeIntoFolder(sessionDir, SummaryNoteStore::noteFileName(label, index), note);
}

} // namespace SummaryFormatter

} // namespace velnote
