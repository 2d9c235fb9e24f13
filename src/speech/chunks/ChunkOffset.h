#pragma once

#include <cstddef>
#include <filesystem>

namespace velnote {

// Where a ten-second chunk starts in its track, in seconds: ten times the number between the last
// "_" and the last "." of its file name (mic_0003.wav starts at 30 s), or ten times its position
// in the track's list when the name has no such number. A number that would put the chunk more
// than twelve hours from the recording start takes the list position instead (logged): the
// recorder writes four digits, and a crafted name must not make a back-end pad billions of samples.
float chunkStartOffset(const std::filesystem::path& chunk, std::size_t fallbackIndex);

// The longest start a chunk's number may give, in seconds.
inline constexpr double kMaxChunkStartSeconds = 12 * 3600.0;

} // namespace velnote
