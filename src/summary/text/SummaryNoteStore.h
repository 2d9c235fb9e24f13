#pragma once

#include "summary/core/SummaryInputs.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The notes of a hierarchical summary and the prompts that produced them, one
// small UTF-8 file each in the session's "intermediate" folder:
// "<index + 1, at least 3 digits>_<file label>.txt" for a note and
// "…_input.txt" for its prompt. Every save creates the folder and replaces
// the file atomically, so concurrent saves of different notes need no lock.

namespace velnote::SummaryNoteStore {

// `label` made safe for a file name: trimmed, every character other than a
// letter, mark or digit of any script, "-", "_" or space replaced by "_",
// "_" trimmed from both ends; "chunk" when nothing is left.
std::string fileLabel(std::string_view label);

// "042_Transcript 00_00-05_00.txt" for index 41 and "Transcript 00:00-05:00".
std::string noteFileName(std::string_view label, std::int64_t index);
std::string noteInputFileName(std::string_view label, std::int64_t index);

// For the remote pipelines: without a session folder nothing is written or
// read; failures are logged (category "summarize") and never thrown.
void saveIntermediateNoteInputShared(std::string_view label, std::string_view system, std::string_view user,
                                     std::int64_t index,
                                     const std::optional<std::filesystem::path>& sessionDir);
void saveIntermediateNoteShared(std::string_view note, std::string_view label, std::int64_t index,
                                const std::optional<std::filesystem::path>& sessionDir);
// The note exactly as stored; std::nullopt without a session folder, or when
// the file is missing, unreadable or not UTF-8 (logged at debug level).
std::optional<std::string> loadIntermediateNoteShared(std::string_view label, std::int64_t index,
                                                      const std::optional<std::filesystem::path>& sessionDir);

} // namespace velnote::SummaryNoteStore

namespace velnote::SummaryFormatter {

// For the local pipeline; both throw std::system_error when the folder cannot
// be made or the file cannot be written. The prompt is the whole chat-framed
// prompt, stored without the opening of the model's turn at its end.
void saveIntermediateNoteInput(const SummarySourceChunk& chunk, std::string_view prompt, std::int64_t index,
                               const std::filesystem::path& sessionDir);
void saveIntermediateNote(std::string_view note, std::string_view label, std::int64_t index,
                          const std::filesystem::path& sessionDir);

} // namespace velnote::SummaryFormatter
