#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// Turns a session's microphone chunks ("mic_0003.wav") and system-audio chunks
// ("sys_0003.wav") into one mixed chunk per running number in the session's
// "audio" folder, named after the gains so that a later run with the same gains
// reuses them. Keeps no state between calls; runs synchronously on the caller's
// thread with blocking file input and output. Two mixers must not work on the
// same session folder at once.
class AudioChunkMixer {
  public:
    static constexpr float minGain = 0.5f;
    static constexpr float maxGain = 3.0f;

    // Mixes every running number that occurs in either list (lists in any
    // order; names that carry no number are ignored) and returns the mixed
    // chunk files in ascending number. Gains are linear factors, clamped to
    // 0.5 ... 3.0 (NaN counts as 1.0). A readable, non-empty mixed chunk of the
    // right name is reused unchanged; any other file of that name is replaced.
    // Each new chunk is written under a "mix_temp_" name and then moved into
    // place, so a file under a mixed chunk name is always complete. Never
    // deletes its inputs. Throws AudioFileError, MixError or
    // std::filesystem::filesystem_error at the first chunk that fails; chunks
    // finished before stay on disk.
    std::vector<std::filesystem::path> buildMixedChunks(const std::filesystem::path& sessionDir,
                                                        const std::vector<std::filesystem::path>& micChunks,
                                                        const std::vector<std::filesystem::path>& sysChunks,
                                                        double micGain, double sysGain) const;

    // The gain as the mixer uses it: clamped, held as a 32-bit float.
    static float clampedGain(double gain);
    // The shortest text that reads back as the same float, always with a
    // point: 1 → "1.0", 2.25 → "2.25".
    static std::string gainText(float gain);
    // "mix_m" + gain + "_s" + gain + "_": the name prefix of one gain pair's
    // mixed chunks, for gains as given to buildMixedChunks.
    static std::string mixedChunkPrefix(double micGain, double sysGain);
    // mixedChunkPrefix + the number with at least four digits + ".wav".
    static std::string mixedChunkName(double micGain, double sysGain, std::int64_t number);

    struct MixedChunkName {
        std::string prefix;  // "mix_m1.0_s2.0_": names one gain pair's set
        std::int64_t number; // the running number
    };
    // The parts of a mixed chunk's name ("mix_m" + gain + "_s" + gain + "_" +
    // number + ".wav", extension in any case); std::nullopt for any other name,
    // including the mixer's "mix_temp_" files.
    static std::optional<MixedChunkName> parseMixedChunkName(const std::filesystem::path& chunk);

    // The chunk map of one stream; of two files with one number, the later wins.
    static std::map<std::int64_t, std::filesystem::path>
    chunkMap(const std::vector<std::filesystem::path>& chunks, std::string_view prefix);

    // out[i] = clip((mic[i] × micGain + sys[i] × sysGain) / d) with d the sum of
    // the gains when above 1, else 1; a shorter side counts as silence.
    static std::vector<float> mixSamples(const std::vector<float>& mic, const std::vector<float>& sys,
                                         float micGain, float sysGain);
};

} // namespace velnote
