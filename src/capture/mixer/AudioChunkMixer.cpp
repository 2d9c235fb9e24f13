#include "capture/mixer/AudioChunkMixer.h"

#include "capture/mixer/AudioChunkNames.h"
#include "capture/mixer/AudioFileError.h"
#include "capture/mixer/MixError.h"
#include "platform/text/Uuid.h"
#include "session/VelnoteLogger.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <set>
#include <sndfile.h>
#include <system_error>

namespace velnote {
namespace fs = std::filesystem;
namespace {

constexpr int kSampleRate = 16000;

struct SndFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndFilePtr = std::unique_ptr<SNDFILE, SndFileCloser>;

SndFilePtr openForReading(const fs::path& path, SF_INFO& info) {
    info = SF_INFO{};
    return SndFilePtr(sf_open(path.c_str(), SFM_READ, &info));
}

// Frames decoded per read: the scratch buffer stays small whatever the chunk's length.
constexpr sf_count_t kReadFrames = 16384;

// The buffers of one run of the mixer, reused from chunk to chunk: fresh multi-megabyte arrays per
// chunk cost more in zero-filling and page faults than the decoding and mixing themselves.
struct MixBuffers {
    std::vector<float> mic;
    std::vector<float> sys;
    std::vector<float> out;
    std::vector<float> scratchFloat;
    std::vector<short> scratchShort;
};

// Channel 0 of the file as floats in -1 ... 1, into `samples` (its capacity reused). 16-bit (and
// other integer) data is read as 16-bit values divided by 32767, so -32768 comes out just below
// -1 and is clipped by the mix. No sample-rate conversion: chunks are recorded at 16 kHz.
void loadSamples(const fs::path* path, std::vector<float>& samples, MixBuffers& buffers) {
    samples.clear();
    if (path == nullptr)
        return;
    SF_INFO info;
    SndFilePtr file = openForReading(*path, info);
    if (!file)
        throw AudioFileError(*path, sf_strerror(nullptr));
    if (info.frames <= 0 || info.channels <= 0)
        return;
    const auto channels = static_cast<std::size_t>(info.channels);
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    const bool floating = subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
    samples.resize(static_cast<std::size_t>(info.frames));
    sf_count_t total = 0;
    while (total < info.frames) {
        const sf_count_t want = std::min(kReadFrames, info.frames - total);
        float* destination = samples.data() + total;
        sf_count_t read = 0;
        if (floating && channels == 1) {
            read = sf_readf_float(file.get(), destination, want);
        } else if (floating) {
            buffers.scratchFloat.resize(static_cast<std::size_t>(want) * channels);
            read = sf_readf_float(file.get(), buffers.scratchFloat.data(), want);
            for (sf_count_t i = 0; i < read; ++i)
                destination[i] = buffers.scratchFloat[static_cast<std::size_t>(i) * channels];
        } else {
            buffers.scratchShort.resize(static_cast<std::size_t>(want) * channels);
            read = sf_readf_short(file.get(), buffers.scratchShort.data(), want);
            for (sf_count_t i = 0; i < read; ++i)
                destination[i] =
                    static_cast<float>(buffers.scratchShort[static_cast<std::size_t>(i) * channels] / 32767.0);
        }
        if (read != want)
            throw AudioFileError(*path, sf_strerror(file.get()));
        total += read;
    }
}

// A new 16 kHz mono 16-bit PCM WAV file. An empty array becomes one silent
// frame, so a mixed chunk always has at least one frame and is reused later.
void writeSamples(const std::vector<float>& samples, const fs::path& path) {
    static const float silence = 0.0f;
    SF_INFO info{};
    info.samplerate = kSampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SndFilePtr file(sf_open(path.c_str(), SFM_WRITE, &info));
    if (!file)
        throw MixError(MixError::Kind::cannotCreateOutputFile, path);
    const float* data = samples.empty() ? &silence : samples.data();
    const auto count = static_cast<sf_count_t>(std::max<std::size_t>(samples.size(), 1));
    if (sf_writef_float(file.get(), data, count) != count)
        throw AudioFileError(path, sf_strerror(file.get()));
    if (sf_close(file.release()) != 0)
        throw AudioFileError(path, "closing failed");
}

// Whether an existing mixed chunk can be reused: it opens as audio and has frames.
bool isUsableMixedChunk(const fs::path& path) {
    SF_INFO info;
    SndFilePtr file = openForReading(path, info);
    return file && info.frames > 0;
}

void removeUnusable(const fs::path& path) {
    const auto name = path.filename().string();
    VelnoteLogger::processing().error("mix chunk unreadable, regenerating: {}", name);
    std::error_code error;
    fs::remove(path, error);
    if (error)
        VelnoteLogger::processing().error("failed to remove unreadable mix chunk: {}: {}", name,
                                          error.message());
}

// Writes under a temporary name and moves the finished file into place; the
// temporary file does not outlive a failure.
void writeMixedChunk(const std::vector<float>& samples, const fs::path& target) {
    const fs::path temporary = target.parent_path() / (std::string(AudioChunkNames::mixTemporaryPrefix) +
                                                       platform::Uuid::random().toString() + ".wav");
    try {
        writeSamples(samples, temporary);
        fs::rename(temporary, target);
    } catch (...) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw;
    }
}

const fs::path* find(const std::map<std::int64_t, fs::path>& map, std::int64_t number) {
    const auto found = map.find(number);
    return found == map.end() ? nullptr : &found->second;
}

} // namespace

std::vector<fs::path> AudioChunkMixer::buildMixedChunks(const fs::path& sessionDir,
                                                        const std::vector<fs::path>& micChunks,
                                                        const std::vector<fs::path>& sysChunks,
                                                        double micGain, double sysGain) const {
    const auto mic = chunkMap(micChunks, AudioChunkNames::micPrefix);
    const auto sys = chunkMap(sysChunks, AudioChunkNames::sysPrefix);
    std::set<std::int64_t> numbers;
    for (const auto& [number, path] : mic)
        numbers.insert(number);
    for (const auto& [number, path] : sys)
        numbers.insert(number);
    if (numbers.empty())
        return {};

    const fs::path audioDir = sessionDir / "audio";
    fs::create_directories(audioDir);
    const float g1 = clampedGain(micGain);
    const float g2 = clampedGain(sysGain);

    std::vector<fs::path> result;
    MixBuffers buffers;
    for (const std::int64_t number : numbers) {
        const fs::path target = audioDir / mixedChunkName(g1, g2, number);
        if (fs::exists(target)) {
            if (isUsableMixedChunk(target)) {
                result.push_back(target);
                continue;
            }
            removeUnusable(target);
        }
        loadSamples(find(mic, number), buffers.mic, buffers);
        loadSamples(find(sys, number), buffers.sys, buffers);
        mixSamplesInto(buffers.mic, buffers.sys, g1, g2, buffers.out);
        writeMixedChunk(buffers.out, target);
        result.push_back(target);
    }
    return result;
}

float AudioChunkMixer::clampedGain(double gain) {
    if (std::isnan(gain))
        return 1.0f;
    return static_cast<float>(std::clamp(gain, static_cast<double>(minGain), static_cast<double>(maxGain)));
}

std::string AudioChunkMixer::gainText(float gain) {
    char buffer[32];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, gain);
    std::string text(buffer, error == std::errc() ? end : buffer);
    if (text.find_first_of(".en") == std::string::npos)
        text += ".0";
    return text;
}

std::string AudioChunkMixer::mixedChunkPrefix(double micGain, double sysGain) {
    return "mix_m" + gainText(clampedGain(micGain)) + "_s" + gainText(clampedGain(sysGain)) + "_";
}

std::string AudioChunkMixer::mixedChunkName(double micGain, double sysGain, std::int64_t number) {
    return AudioChunkNames::chunkFileName(mixedChunkPrefix(micGain, sysGain), number);
}

std::optional<AudioChunkMixer::MixedChunkName> AudioChunkMixer::parseMixedChunkName(const fs::path& chunk) {
    const std::string name = chunk.filename().string();
    const auto lastUnderscore = name.rfind('_');
    if (!name.starts_with("mix_m") || !AudioChunkNames::isWav(chunk) || lastUnderscore == std::string::npos)
        return std::nullopt;
    const std::string prefix = name.substr(0, lastUnderscore + 1);
    const auto gains =
        std::string_view(prefix).substr(5, prefix.size() - 6); // between "mix_m" and the last "_"
    const auto separator = gains.find("_s");
    if (separator == std::string_view::npos || separator == 0 || separator + 2 == gains.size())
        return std::nullopt;
    const auto number = AudioChunkNames::chunkNumber(chunk, prefix);
    if (!number || *number < 0)
        return std::nullopt;
    return MixedChunkName{prefix, *number};
}

std::map<std::int64_t, fs::path> AudioChunkMixer::chunkMap(const std::vector<fs::path>& chunks,
                                                           std::string_view prefix) {
    std::map<std::int64_t, fs::path> map;
    for (const auto& chunk : chunks) {
        if (const auto number = AudioChunkNames::chunkNumber(chunk, prefix))
            map[*number] = chunk;
    }
    return map;
}

std::vector<float> AudioChunkMixer::mixSamples(const std::vector<float>& mic, const std::vector<float>& sys,
                                               float micGain, float sysGain) {
    std::vector<float> out;
    mixSamplesInto(mic, sys, micGain, sysGain, out);
    return out;
}

void AudioChunkMixer::mixSamplesInto(const std::vector<float>& mic, const std::vector<float>& sys, float micGain,
                                     float sysGain, std::vector<float>& out) {
    const float divisor = micGain + sysGain > 1.0f ? micGain + sysGain : 1.0f;
    const float micScale = micGain / divisor;
    const float sysScale = sysGain / divisor;
    const std::size_t both = std::min(mic.size(), sys.size());
    const std::vector<float>& longer = mic.size() >= sys.size() ? mic : sys;
    const float longerScale = mic.size() >= sys.size() ? micScale : sysScale;
    out.resize(longer.size());
    for (std::size_t i = 0; i < both; ++i)
        out[i] = std::clamp(mic[i] * micScale + sys[i] * sysScale, -1.0f, 1.0f);
    for (std::size_t i = both; i < longer.size(); ++i)
        out[i] = std::clamp(longer[i] * longerScale, -1.0f, 1.0f);
}

} // namespace velnote
