#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// The names of the chunk files in a session's "audio" folder: the recorded
// microphone and system-audio chunks ("mic_0003.wav", "sys_0003.wav"), the
// mixer's mixed chunks (see AudioChunkMixer) and the temporary files it writes
// them under. Everything that writes, lists or deletes chunks names them here.
struct AudioChunkNames {
    static constexpr std::string_view micPrefix = "mic_";
    static constexpr std::string_view sysPrefix = "sys_";
    // What an interrupted mix leaves behind; never audio to transcribe.
    static constexpr std::string_view mixTemporaryPrefix = "mix_temp_";

    // Whether the file name ends in ".wav", in any case.
    static bool isWav(const std::filesystem::path& path);

    // `prefix` + the number with at least four digits + ".wav" ("mic_", 3 → "mic_0003.wav").
    static std::string chunkFileName(std::string_view prefix, std::int64_t number);

    // The running number of a chunk file: the decimal digits between `prefix`
    // and the last "." of the file name ("mic_0003.wav" → 3 for "mic_").
    // std::nullopt for a name without the prefix or a dot, or whose middle is
    // not a whole number. Any extension is accepted.
    static std::optional<std::int64_t> chunkNumber(const std::filesystem::path& chunk,
                                                   std::string_view prefix);

    // The WAV files among `files` whose name starts with `prefix`, in ascending name order.
    static std::vector<std::filesystem::path> chunkFiles(const std::vector<std::filesystem::path>& files,
                                                         std::string_view prefix);
};

} // namespace velnote
