// Goal: the two capture streams together (conversion to 16 kHz mono, gain, meter, chunk files)
// cost at most 1 % of one core. Reported as "core_%" (CPU time over audio time), for the
// processing alone and for both captures running live on a private sound server, beside two
// parecord processes recording the same two sources to WAV files in the same run.

#include "app/state/AppState.h"
#include "capture/controls/AudioMuteState.h"
#include "capture/controls/RecordingRuntimeSettings.h"
#include "capture/recording/CaptureBufferProcessor.h"
#include "capture/recording/MicrophoneCapture.h"
#include "capture/recording/SystemAudioCapture.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/SystemClock.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/logging/Logger.h"
#include "platform/settings/SettingsStore.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace velnote {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

double processCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

fs::path freshFolder(const std::string& name) {
    const fs::path folder =
        fs::temp_directory_path() / ("velnote-bench-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

std::vector<float> tone(int rate, int channels, std::size_t frames, std::size_t offset) {
    std::vector<float> samples;
    samples.reserve(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        const auto value =
            static_cast<float>(0.25 * std::sin(2 * M_PI * 440.0 * static_cast<double>(offset + i) / rate));
        samples.insert(samples.end(), static_cast<std::size_t>(channels), value);
    }
    return samples;
}

// The processing alone: one minute of a 16 kHz mono microphone and a 48 kHz stereo output, in
// 100 ms deliveries, through the two processors into chunk files.
void BM_ProcessTwoStreams(benchmark::State& state) {
    platform::LogCapture quiet;
    constexpr int kSeconds = 60;
    RecordingRuntimeSettings gains;
    gains.setGains(1.5, 1.0);
    AudioMuteState mutes;
    std::vector<std::vector<float>> mic, sys;
    for (int i = 0; i < kSeconds * 10; ++i) {
        mic.push_back(tone(16000, 1, 1600, static_cast<std::size_t>(i) * 1600));
        sys.push_back(tone(48000, 2, 4800, static_cast<std::size_t>(i) * 4800));
    }
    const fs::path folder = freshFolder("process");
    double cpu = 0;
    for (auto _ : state) {
        fs::remove_all(folder / "audio");
        const auto processor = [&](CaptureChannel channel) {
            return std::make_unique<CaptureBufferProcessor>(
                channel, gains, mutes,
                std::make_unique<AudioChunkSequence>(folder, channel, 0, AudioChunkSequence::Options{},
                                                     nullptr, nullptr),
                [](float) {});
        };
        auto micProcessor = processor(CaptureChannel::microphone);
        auto sysProcessor = processor(CaptureChannel::systemAudio);
        const double before = processCpuSeconds();
        for (std::size_t i = 0; i < mic.size(); ++i) {
            micProcessor->process(mic[i], {16000, 1});
            sysProcessor->process(sys[i], {48000, 2});
        }
        micProcessor->finish();
        sysProcessor->finish();
        cpu += processCpuSeconds() - before;
    }
    state.counters["core_%"] = cpu / (static_cast<double>(state.iterations()) * kSeconds) * 100.0;
    fs::remove_all(folder);
}
BENCHMARK(BM_ProcessTwoStreams)->Unit(benchmark::kMillisecond)->Iterations(3);

// A private sound server for the live runs, as the tests use it.
class SoundServer {
  public:
    SoundServer() : folder_(freshFolder("pulse")) {
        ::setenv("PULSE_SERVER", ("unix:" + (folder_ / "pulse" / "native").string()).c_str(), 1);
        ::setenv("PULSE_COOKIE", (folder_ / "pulse" / "cookie").string().c_str(), 1);
        run(script() + " start " + (folder_ / "pulse").string() + " >/dev/null");
    }
    ~SoundServer() {
        std::system((script() + " stop " + (folder_ / "pulse").string()).c_str());
        fs::remove_all(folder_);
    }
    const fs::path& folder() const { return folder_; }

  private:
    static std::string script() { return std::string(VELNOTE_SOURCE_DIR) + "/scripts/pulse-test-server"; }
    static void run(const std::string& command) {
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("failed: " + command);
    }
    fs::path folder_;
};

pid_t spawn(std::vector<std::string> argv) {
    std::vector<char*> args;
    for (std::string& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) {
        throw std::runtime_error("cannot start " + argv.front());
    }
    return pid;
}

// Ends a recorder the way a user does (SIGINT) and returns the CPU time it used.
double stopAndMeasure(pid_t pid) {
    ::kill(pid, SIGINT);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

constexpr auto kLiveDuration = 10s;

// Both captures recording the fake microphone (16 kHz mono) and the output's monitor (48 kHz
// stereo) for ten seconds of real time while a tone plays into each.
void BM_LiveTwoCaptures(benchmark::State& state) {
    platform::LogCapture quiet;
    SoundServer server;
    const fs::path session = server.folder() / "session";
    fs::create_directories(session);
    platform::SettingsStore settings(server.folder() / "settings.json");
    settings.set("enableVoiceProcessing", platform::SettingsValue(false));
    platform::MainDispatcher main;
    platform::ThreadPool pool(1);
    AppState appState(AppState::Dependencies{&settings, &platform::SystemClock::shared(), &main, &pool});
    CaptureDependencies dependencies;
    dependencies.appState = &appState;
    dependencies.mainDispatcher = &main;
    dependencies.settings = &settings;
    dependencies.completionExecutor = &pool;

    for (auto _ : state) {
        MicrophoneCapture mic(session, std::nullopt, 0, dependencies);
        SystemAudioCapture sys(session, dependencies);
        const pid_t micTone =
            spawn({"pacat", "--playback", "-d", "mic", "--rate=16000", "--channels=1", "/dev/urandom"});
        const pid_t sysTone = spawn({"pacat", "--playback", "-d", "speaker", "/dev/urandom"});
        const double before = processCpuSeconds();
        mic.start();
        sys.start();
        std::this_thread::sleep_for(kLiveDuration);
        main.runPending();
        mic.stop();
        sys.stop();
        const double cpu = processCpuSeconds() - before;
        stopAndMeasure(micTone);
        stopAndMeasure(sysTone);
        state.SetIterationTime(std::chrono::duration<double>(kLiveDuration).count());
        state.counters["core_%"] = cpu / std::chrono::duration<double>(kLiveDuration).count() * 100.0;
    }
}
BENCHMARK(BM_LiveTwoCaptures)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

// parecord recording the same two sources to WAV files (the server converts to 16 kHz mono).
void BM_LiveTwoParecords(benchmark::State& state) {
    SoundServer server;
    for (auto _ : state) {
        const pid_t micTone =
            spawn({"pacat", "--playback", "-d", "mic", "--rate=16000", "--channels=1", "/dev/urandom"});
        const pid_t sysTone = spawn({"pacat", "--playback", "-d", "speaker", "/dev/urandom"});
        const pid_t mic =
            spawn({"parecord", "-d", "mic.monitor", "--rate=16000", "--channels=1", "--format=s16le",
                   "--file-format=wav", "--latency-msec=100", (server.folder() / "mic.wav").string()});
        const pid_t sys =
            spawn({"parecord", "-d", "speaker.monitor", "--rate=16000", "--channels=1", "--format=s16le",
                   "--file-format=wav", "--latency-msec=100", (server.folder() / "sys.wav").string()});
        std::this_thread::sleep_for(kLiveDuration);
        const double cpu = stopAndMeasure(mic) + stopAndMeasure(sys);
        stopAndMeasure(micTone);
        stopAndMeasure(sysTone);
        state.SetIterationTime(std::chrono::duration<double>(kLiveDuration).count());
        state.counters["core_%"] = cpu / std::chrono::duration<double>(kLiveDuration).count() * 100.0;
    }
}
BENCHMARK(BM_LiveTwoParecords)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

} // namespace
} // namespace velnote

BENCHMARK_MAIN();
