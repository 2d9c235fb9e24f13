#pragma once

#include "platform/fs/FileDescriptor.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <system_error>
#include <vector>

namespace velnote::platform {

// Everything the application writes is the user's own (recordings, transcripts, summaries,
// settings): files are made 0600 and folders 0700 unless a caller asks otherwise.
struct AtomicWriteOptions {
    mode_t mode = 0600; // permissions of the new file, exactly (the umask is not applied)
    // Test seam: called after the temporary file is written and synced, just
    // before it replaces the target. Throwing here aborts the write.
    std::function<void(const std::filesystem::path& temporary)> beforeRename;
};

// Writes `bytes` to a temporary file beside `path` (".<name>.tmp-XXXXXX"), syncs
// it and renames it over `path`, so readers see either the old file or the whole
// new one. The folder must exist. Throws std::system_error; the temporary file
// is removed on failure. Afterwards, temporary files in the folder that writes
// which died before their rename left behind are removed (a write in progress
// holds a lock on its own).
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         const AtomicWriteOptions& options = {});

// A file written piece by piece, for contents too large to hold in memory: the pieces go to a
// temporary file beside `path`, named and locked as writeFileAtomically's, and commit() syncs it
// and renames it over `path`. Dropped before commit(), or when commit() fails, the temporary file
// is removed and `path` is untouched. The folder must exist. Throws std::system_error.
class AtomicFileWriter {
  public:
    explicit AtomicFileWriter(std::filesystem::path path, mode_t mode = 0600);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    void write(std::string_view bytes);
    // `beforeRename`: as AtomicWriteOptions::beforeRename. Once only.
    void commit(const std::function<void(const std::filesystem::path& temporary)>& beforeRename = {});

    const std::filesystem::path& temporaryPath() const { return temporary_; }

  private:
    std::filesystem::path path_;
    std::filesystem::path temporary_;
    FileDescriptor fd_;
    bool committed_ = false;
};

// Appends `bytes` (for example one JSON line with its "\n") in a single write.
// Creates the file when missing (mode 0600). Throws std::system_error, also at once for anything
// but a regular file in its place (as openRegularFile: a FIFO would stall or swallow the bytes).
void appendToFile(const std::filesystem::path& path, std::string_view bytes);
// Appends whole lines (`lines` ends with its "\n") as appendToFile does; when the file ends in a
// line without its line feed, a write that died part way, one is written first, so the new lines
// never run into the broken one and stay readable. Throws std::system_error.
void appendLines(const std::filesystem::path& path, std::string_view lines);

// `path` open for reading. Anything but a regular file (a FIFO, a device, a folder) throws
// std::system_error with EINVAL without waiting for a writer; a missing file ENOENT.
FileDescriptor openRegularFile(const std::filesystem::path& path);
// The same with open(2)'s access `flags` (O_WRONLY or O_RDWR, O_APPEND, O_CREAT ...) and the
// `mode` of a file it creates; a FIFO with no reader gives ENXIO instead of a wait.
FileDescriptor openRegularFile(const std::filesystem::path& path, int flags, unsigned mode);

// Whole file as bytes. Throws std::system_error (ENOENT when missing, EINVAL when not a regular
// file, as openRegularFile).
std::string readFile(const std::filesystem::path& path);
// std::nullopt when the file is missing, unreadable or not a regular file.
std::optional<std::string> readFileIfPresent(const std::filesystem::path& path);
// Whole file as bytes for the small records a damaged or planted entry must not stall or swamp:
// anything but a regular file (a FIFO, a device, a folder) throws std::system_error with
// EINVAL, more than `maxBytes` with EFBIG, a missing file with ENOENT. `maxBytes` may be
// std::string::npos where every byte counts and only a stall must be kept out.
std::string readRegularFile(const std::filesystem::path& path, std::size_t maxBytes);

// The whole lines, with their line breaks, at the start of a file that may be too large to hold:
// all of it when it is at most `limit` bytes, else the lines that end within the first `limit`
// bytes and `cut` set. Reads no more than a block past the limit. Regular files only, throwing
// like readRegularFile (a FIFO in place of the file must not stall its reader).
struct LeadingLines {
    std::string text;
    bool cut = false;
};
LeadingLines readLeadingLines(const std::filesystem::path& path, std::size_t limit);

enum class HiddenEntries { include, skip };

// The entries of a folder in the file system's own order (not sorted), without
// "." and "..". Hidden entries start with ".". Empty when the folder is missing.
std::vector<std::filesystem::path> listDirectory(const std::filesystem::path& folder,
                                                 HiddenEntries hidden = HiddenEntries::include);
// The same for callers that must tell an empty folder from one they could not
// read: a folder that cannot be opened (a missing one included) or read to the
// end sets `error` and gives an empty list; a listing that succeeds clears it.
std::vector<std::filesystem::path> listDirectory(const std::filesystem::path& folder, HiddenEntries hidden,
                                                 std::error_code& error);

using FileTime = std::chrono::system_clock::time_point;

// Birth time where the file system records one, else the modification time;
// std::nullopt when the path cannot be examined.
std::optional<FileTime> creationDate(const std::filesystem::path& path);
std::optional<FileTime> modificationDate(const std::filesystem::path& path);

// Creates the folder and its parents; each folder it creates is 0700 whatever the
// umask, and existing ones keep their mode. Throws std::filesystem::filesystem_error.
void createDirectories(const std::filesystem::path& folder);

} // namespace velnote::platform
