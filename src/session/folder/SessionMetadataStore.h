#pragma once

// Reading and writing "session.json". Every read-modify-write anywhere in the
// process goes through update() (or updateOrRebuild()), which hold the one
// process-wide updateLock() across read, decode, change, encode and atomic
// replace, so concurrent writers never lose each other's changes. Readers take
// no lock: the file is always replaced whole.

#include "platform/concurrency/SystemClock.h"
#include "session/folder/SessionMetadata.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace velnote {

class SessionMetadataStore {
  public:
    // Changes the decoded value in place. It may look at the file system but
    // must not call update() again: the lock is not re-entrant.
    using Mutation = std::function<void(SessionMetadata&)>;

    SessionMetadataStore() = delete;

    // Far above any real file (a few kilobytes, most of it the prompts); a larger one is damaged
    // and reads as unreadable rather than filling the memory.
    static constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;

    // One lock for every session folder of the process. Not re-entrant.
    static std::mutex& updateLock();

    // `sessionDir` / "session.json".
    static std::filesystem::path fileIn(const std::filesystem::path& sessionDir);

    // Pretty-printed, sorted keys, trailing newline. Throws std::invalid_argument
    // for a value JSON cannot hold (a non-finite number).
    static std::string encode(const SessionMetadata& metadata);
    // Throws platform::JsonDecodeError naming the failing key path.
    static SessionMetadata decode(std::string_view bytes);

    // Takes no lock. Throws std::system_error when the file cannot be read
    // (ENOENT when missing; also for no regular file or one beyond kMaxFileBytes)
    // and platform::JsonDecodeError when it does not decode.
    static SessionMetadata read(const std::filesystem::path& sessionDir);

    // Read, decode, mutate, encode and atomic write under updateLock(). On any
    // failure (including one thrown by `mutation`) the file stays as it was and
    // the error propagates.
    static void update(const std::filesystem::path& sessionDir, const Mutation& mutation);

    // Encodes and writes the file atomically without the lock: only for the
    // first file of a new session, which nobody else knows yet.
    static void write(const SessionMetadata& metadata, const std::filesystem::path& sessionDir);

    // update() for writers that must leave a usable file behind (recording
    // stop, edits of a running session's settings): when the existing file is
    // missing, unreadable or undecodable, the mutation is applied to
    // SessionMetadata::initial(`config`, `clock`) instead, still under the
    // lock. An unreadable file is first kept beside it as
    // "session.json.unreadable" (or "..._2", "..._3", ...) so nothing in it is
    // lost. Returns the kept file's path when one was kept. Throws when the
    // old file cannot be kept (then nothing is replaced) or the new one cannot
    // be encoded or written.
    static std::optional<std::filesystem::path>
    updateOrRebuild(const std::filesystem::path& sessionDir, const SessionConfig& config,
                    const Mutation& mutation, const platform::Clock& clock = platform::SystemClock::shared());
};

} // namespace velnote
