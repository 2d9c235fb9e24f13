// The chunk mixer on ten minutes of a session (sixty 10 s chunks a side, 16 kHz mono 16-bit, as
// the capture writes them) beside its floor in the same run: reading the same input files and
// writing files of the mixed chunks' size under a temporary name, then moving them into place.
// Goal: the mixer within 1.5 times the floor (the `floor_ratio` counter of BM_Mixer).

#include "FloorComparison.h"
#include "capture/mixer/AudioChunkMixer.h"
#include "capture/mixer/AudioChunkNames.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <sndfile.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace velnote {
namespace {
namespace fs = std::filesystem;

constexpr int kChunks = 60;
constexpr int kChunkFrames = 160000;

struct Session {
    fs::path dir;
    std::vector<fs::path> mic;
    std::vector<fs::path> sys;
};

void writeChunk(const fs::path& path, double frequency) {
    SF_INFO info{};
    info.samplerate = 16000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        throw std::runtime_error("cannot write " + path.string());
    std::vector<float> samples(kChunkFrames);
    for (int i = 0; i < kChunkFrames; ++i)
        samples[static_cast<std::size_t>(i)] =
            static_cast<float>(0.3 * std::sin(2 * M_PI * frequency * i / 16000));
    sf_writef_float(file, samples.data(), kChunkFrames);
    sf_close(file);
}

const Session& session() {
    static const Session made = [] {
        Session s;
        s.dir = fs::temp_directory_path() / ("velnote-bench-mixer-" + std::to_string(::getpid()));
        fs::remove_all(s.dir);
        fs::create_directories(s.dir / "audio");
        for (int n = 0; n < kChunks; ++n) {
            s.mic.push_back(s.dir / "audio" / AudioChunkNames::chunkFileName(AudioChunkNames::micPrefix, n));
            s.sys.push_back(s.dir / "audio" / AudioChunkNames::chunkFileName(AudioChunkNames::sysPrefix, n));
            writeChunk(s.mic.back(), 440);
            writeChunk(s.sys.back(), 660);
        }
        return s;
    }();
    return made;
}

void removeOutputs(const Session& s) {
    for (const auto& entry : fs::directory_iterator(s.dir / "audio")) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("mix_") || name.starts_with("floor_"))
            fs::remove(entry.path());
    }
}

void readAll(const fs::path& path, std::vector<char>& buffer) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("cannot read " + path.string());
    buffer.resize(static_cast<std::size_t>(fs::file_size(path)));
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t got = ::read(fd, buffer.data() + done, buffer.size() - done);
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    ::close(fd);
}

void writeAll(const fs::path& path, const std::vector<char>& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("cannot write " + path.string());
    ::close(fd);
}

void floor(const Session& s) {
    std::vector<char> mic, sys;
    for (int n = 0; n < kChunks; ++n) {
        readAll(s.mic[static_cast<std::size_t>(n)], mic);
        readAll(s.sys[static_cast<std::size_t>(n)], sys);
        const fs::path temporary = s.dir / "audio" / ("floor_temp_" + std::to_string(n));
        writeAll(temporary, mic); // a mixed chunk has the size of its inputs
        fs::rename(temporary, s.dir / "audio" / ("floor_" + std::to_string(n) + ".wav"));
    }
}

void BM_MixerAgainstFloor(benchmark::State& state) {
    const Session& s = session();
    const AudioChunkMixer mixer;
    bench::compareWithFloor(
        state, [&] { removeOutputs(s); },
        [&] { benchmark::DoNotOptimize(mixer.buildMixedChunks(s.dir, s.mic, s.sys, 1.5, 1.0)); },
        [&] { floor(s); });
    state.SetBytesProcessed(state.iterations() * kChunks * 3 * kChunkFrames * 2);
}
BENCHMARK(BM_MixerAgainstFloor)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

struct Cleanup {
    ~Cleanup() {
        std::error_code ignored;
        fs::remove_all(fs::temp_directory_path() / ("velnote-bench-mixer-" + std::to_string(::getpid())),
                       ignored);
    }
} cleanup;

} // namespace
} // namespace velnote
BENCHMARK_MAIN();
