#include "capture/mixer/AudioChunkMixer.h"

#include "capture/mixer/AudioChunkNames.h"
#include "capture/mixer/AudioFileError.h"
#include "capture/mixer/MixError.h"
#include "platform/fs/Files.h"
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

// Opened here, not by the library, so that a FIFO in a chunk's place is refused at once instead of
// waiting for a writer. The library owns the descriptor from then on, also when it fails.
SndFilePtr openForReading(const fs::path& path, SF_INFO& info) {
    info = SF_INFO{};
    platform::FileDescriptor fd = platform::openRegularFile(path);
    return SndFilePtr(sf_open_fd(fd.release(), SFM_READ, &info, SF_TRUE));
}

// Frames handled at a time: every buffer of a mix is a block this long, made once per run and
// reused from chunk to chunk, so a chunk of any length costs no fresh memory.
constexpr sf_count_t kBlockFrames = 32768;

// Largest magnitude an input sample keeps: gains make at most 1 of each side, so the scaled sum
// stays far below the int range.
constexpr float kInputLimit = 1e4f;

struct MixBuffers {
    std::vector<float> mic = std::vector<float>(kBlockFrames);
    std::vector<float> sys = std::vector<float>(kBlockFrames);
    std::vector<short> out = std::vector<short>(kBlockFrames);
    std::vector<float> scratchFloat = std::vector<float>(kBlockFrames); // interleaved float frames
    std::vector<short> scratchShort = std::vector<short>(kBlockFrames); // interleaved integer frames
};

class ChunkReader {
  public:
    ChunkReader(const fs::path* path, MixBuffers& buffers) : path_(path), buffers_(buffers) {
        if (path == nullptr)
            return;
        try {
            file_ = openForReading(*path, info_);
        } catch (const std::system_error& error) {
            throw AudioFileError(*path, error.what());
        }
        if (!file_)
            throw AudioFileError(*path, sf_strerror(nullptr));
        if (info_.frames > 0 && info_.channels > 0)
            frames_ = info_.frames;
        const int subtype = info_.format & SF_FORMAT_SUBMASK;
        floating_ = subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
    }

    sf_count_t frames() const { return frames_; }

    // The next `count` frames (at most kBlockFrames) into `out`.
    void read(float* out, sf_count_t count) {
        const sf_count_t available = std::clamp<sf_count_t>(frames_ - position_, 0, count);
        if (available > 0)
            readFrames(out, available);
        std::fill(out + available, out + count, 0.0f);
        position_ += count;
    }

  private:
    void readFrames(float* out, sf_count_t count) {
        const auto channels = static_cast<std::size_t>(info_.channels);
        const auto samples = static_cast<std::size_t>(count) * channels;
        sf_count_t read = 0;
        if (floating_) {
            buffers_.scratchFloat.resize(std::max(samples, buffers_.scratchFloat.size()));
            read = sf_readf_float(file_.get(), buffers_.scratchFloat.data(), count);
            for (sf_count_t i = 0; i < read; ++i)
                out[i] = bounded(buffers_.scratchFloat[static_cast<std::size_t>(i) * channels]);
        } else {
            buffers_.scratchShort.resize(std::max(samples, buffers_.scratchShort.size()));
            read = sf_readf_short(file_.get(), buffers_.scratchShort.data(), count);
            if (channels == 1)
                pcm16ToFloat(buffers_.scratchShort.data(), out); // the whole block: past `read` is refilled
            else
                for (sf_count_t i = 0; i < read; ++i)
                    out[i] =
                        static_cast<float>(buffers_.scratchShort[static_cast<std::size_t>(i) * channels]) *
                        (1.0f / 32767.0f);
        }
        if (read != count)
            throw AudioFileError(*path_, sf_strerror(file_.get()));
    }

    // A float sample far beyond full scale is clipped by the mix anyway; kept within kInputLimit
    // (and NaN as silence) it stays a number the mix can convert.
    static float bounded(float sample) {
        return sample >= -kInputLimit ? std::min(sample, kInputLimit) : (sample < 0.0f ? -kInputLimit : 0.0f);
    }

    // Over whole blocks: a loop of fixed length the compiler turns into vector code.
    static void pcm16ToFloat(const short* in, float* out) {
        for (sf_count_t i = 0; i < kBlockFrames; ++i)
            out[i] = static_cast<float>(in[i]) * (1.0f / 32767.0f);
    }

    const fs::path* path_;
    MixBuffers& buffers_;
    SF_INFO info_{};
    SndFilePtr file_;
    sf_count_t frames_ = 0;
    sf_count_t position_ = 0;
    bool floating_ = false;
};

float mixSample(float mic, float sys, float micScale, float sysScale) {
    return std::clamp(mic * micScale + sys * sysScale, -1.0f, 1.0f);
}

// The mix of one sample pair as 16-bit PCM: the same as mixSample scaled to 32767 and rounded half
// away from zero, as libsndfile writes floats, but clipped after the conversion, so that the
// block loop has no float branches and becomes vector code. Inputs stay within kInputLimit, so
// the scaled sum fits an int.
short mixPcm16(float mic, float sys, float micScale, float sysScale) {
    const float scaled = (mic * micScale + sys * sysScale) * 32767.0f;
    return static_cast<short>(
        std::clamp(static_cast<int>(scaled + std::copysign(0.5f, scaled)), -32767, 32767));
}

// The mix of the two chunks as a new 16 kHz mono 16-bit PCM WAV file, block by block. Two silent
// sources give one silent frame, so a mixed chunk always has at least one frame and is reused
// later.
void writeMix(ChunkReader& mic, ChunkReader& sys, float micScale, float sysScale, const fs::path& path,
              MixBuffers& buffers) {
    SF_INFO info{};
    info.samplerate = kSampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SndFilePtr file(sf_open(path.c_str(), SFM_WRITE, &info));
    if (!file)
        throw MixError(MixError::Kind::cannotCreateOutputFile, path);
    const sf_count_t total = std::max<sf_count_t>(std::max(mic.frames(), sys.frames()), 1);
    for (sf_count_t done = 0; done < total;) {
        const sf_count_t count = std::min(kBlockFrames, total - done);
        mic.read(buffers.mic.data(), count);
        sys.read(buffers.sys.data(), count);
        // Over the whole block (past `count` both sides are silence): a loop of fixed length the
        // compiler turns into vector code.
        const float* micBlock = buffers.mic.data();
        const float* sysBlock = buffers.sys.data();
        short* outBlock = buffers.out.data();
        for (sf_count_t i = 0; i < kBlockFrames; ++i)
            outBlock[i] = mixPcm16(micBlock[i], sysBlock[i], micScale, sysScale);
        if (sf_writef_short(file.get(), buffers.out.data(), count) != count)
            throw AudioFileError(path, sf_strerror(file.get()));
        done += count;
    }
    if (sf_close(file.release()) != 0)
        throw AudioFileError(path, "closing failed");
}

// Divides by the gain sum when it is above 1, so that full scale on both sides stays in range.
std::pair<float, float> scales(float micGain, float sysGain) {
    const float divisor = micGain + sysGain > 1.0f ? micGain + sysGain : 1.0f;
    return {micGain / divisor, sysGain / divisor};
}

// Whether an existing mixed chunk can be reused: it opens as audio and has frames.
bool isUsableMixedChunk(const fs::path& path) {
    SF_INFO info;
    try {
        SndFilePtr file = openForReading(path, info);
        return file && info.frames > 0;
    } catch (const std::system_error&) {
        return false;
    }
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
void writeMixedChunk(const fs::path* micPath, const fs::path* sysPath, float micGain, float sysGain,
                     const fs::path& target, MixBuffers& buffers) {
    ChunkReader mic(micPath, buffers);
    ChunkReader sys(sysPath, buffers);
    const auto [micScale, sysScale] = scales(micGain, sysGain);
    const fs::path temporary = target.parent_path() / (std::string(AudioChunkNames::mixTemporaryPrefix) +
                                                       platform::Uuid::random().toString() + ".wav");
    try {
        writeMix(mic, sys, micScale, sysScale, temporary, buffers);
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
        writeMixedChunk(find(mic, number), find(sys, number), g1, g2, target, buffers);
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
    const auto [micScale, sysScale] = scales(micGain, sysGain);
    std::vector<float> out(std::max(mic.size(), sys.size()));
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] =
            mixSample(i < mic.size() ? mic[i] : 0.0f, i < sys.size() ? sys[i] : 0.0f, micScale, sysScale);
    return out;
}

} // namespace velnote
