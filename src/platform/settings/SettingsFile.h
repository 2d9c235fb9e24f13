#pragma once

#include "platform/settings/SettingsValue.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace velnote::platform {

// The settings file: one JSON object from key to a one-member object naming the
// value's type, so every type survives a reload:
//
//   {
//     "audioDirBookmark": { "data": "AAEC" },
//     "lastNightlyBatchDate": { "date": "2025-01-31T09:15:00Z" },
//     "micInputGain": { "double": 2.0 },
//     "nightlyBatchHour": { "integer": 3 },
//     "recent": { "array": [ { "string": "a" } ] }
//   }
//
// The other tags are "string", "bool" and "dictionary"; bytes are base64 and a
// double that is not finite is written as "nan", "inf" or "-inf".
//
// Not thread-safe: the store calls it under its write lock.
class SettingsFile {
  public:
    // Far more than any settings the application writes; a larger file reads as unreadable (and is
    // set aside) rather than filling the memory at launch.
    static constexpr std::size_t kMaxFileBytes = 64 * 1024 * 1024;

    explicit SettingsFile(std::filesystem::path path);

    const std::filesystem::path& path() const { return path_; }

    // The stored values. A missing file gives none. A file that cannot be read
    // or decoded (or is no regular file, or is larger than kMaxFileBytes) also gives none, is logged, and is
    // renamed aside to
    // "<name>.corrupt-<UTC time>" by the next save, so it is never overwritten.
    SettingsDictionary load();

    // Writes `text` (from encode) in place of the file, atomically, creating the
    // folder when needed. Throws std::system_error; when a corrupt file cannot
    // be set aside, nothing is written (it throws) so that the file is not lost.
    void save(std::string_view text);

    static std::string encode(const SettingsDictionary& values);
    // Throws JsonDecodeError naming the key path of the first bad value.
    static SettingsDictionary decode(std::string_view text);

  private:
    void setCorruptFileAside();

    std::filesystem::path path_;
    bool corruptFileInPlace_ = false;
};

} // namespace velnote::platform
