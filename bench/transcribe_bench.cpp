// Ten minutes of real recorded speech (the telephone prompts of the speech cache, joined in name
// order with a quarter second between them) through the whole engine with the real base model, as
// the application calls it: VAD chunking, 16 concurrent pieces. Goals: a real-time factor of at
// most 0.02 on 8 processors (0.06 on 2) and a word error rate of at most 10 % against the prompts'
// texts. Reports both, and the shares of the summed task time spent in the mel spectrogram, the
// audio encoder and the text decoder (every pass, fallbacks included), with the tokens decoded.
// Each processor count runs in a process of its own, started under that CPU affinity: the model
// runtime takes its thread count from the affinity, and the OpenMP runtime under ggml counts the
// processors once, when the process starts, shortening its threads' spinning only when they
// outnumber that count (in one process the 2-processor case would spin as on 8 processors). On a
// shared machine with session-based scheduling groups, nice alone does not lift the benchmark
// above other sessions: start it in a session of its own (setsid) whose /proc/self/autogroup
// nice is raised as well.
//
// Needs scripts/fetch-models (the base weights and the recordings); without them the benchmark
// says so and skips.

#include "engine/speech/Vocalith.h"
#include "engine/speech/audio/AudioProcessor.h"
#include "platform/ml/convert/ModelConverter.h"
#include "support/SpeechCorpus.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sched.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace vocalith;

constexpr double kAudioSeconds = 600;
constexpr std::size_t kGapSamples = 4000;

bool weightsAreFetched() {
    return fs::exists(testing::dependencyCache() / "models/whisper-base/.complete") &&
           testing::speechIsFetched();
}

// The converted base model in a temporary folder, removed when the program ends.
class ConvertedVariant {
  public:
    ConvertedVariant()
        : root_(fs::temp_directory_path() / ("velnote-transcribe-bench-" + std::to_string(::getpid()))) {
        velnote::platform::ml::convertModel(testing::dependencyCache() / "models/whisper-base", folder());
    }
    ~ConvertedVariant() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    ConvertedVariant(const ConvertedVariant&) = delete;
    ConvertedVariant& operator=(const ConvertedVariant&) = delete;
    fs::path folder() const { return root_ / "openai_whisper-base"; }

  private:
    fs::path root_;
};

fs::path variantFolder() {
    static const ConvertedVariant variant;
    return variant.folder();
}

struct Speech {
    std::vector<float> samples;
    std::string text;
};

const Speech& tenMinutes() {
    static const Speech speech = [] {
        Speech joined;
        for (const auto& prompt : testing::promptRecordings()) {
            const auto samples = AudioProcessor::loadAudioAsFloatArray(prompt.path.string());
            joined.samples.insert(joined.samples.end(), samples.begin(), samples.end());
            joined.samples.insert(joined.samples.end(), kGapSamples, 0.0f);
            joined.text += prompt.transcript + " ";
            if (static_cast<double>(joined.samples.size()) >= kAudioSeconds * Vocalith::sampleRate)
                break;
        }
        return joined;
    }();
    return speech;
}

constexpr int kProcessorCounts[] = {8, 2};
constexpr const char* kProcessorsVariable = "VELNOTE_TRANSCRIBE_BENCH_PROCESSORS";

// Restricts this process to its first `count` allowed processors.
void limitToProcessors(int count) {
    cpu_set_t allowed;
    sched_getaffinity(0, sizeof allowed, &allowed);
    cpu_set_t limited;
    CPU_ZERO(&limited);
    for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < count; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) {
            CPU_SET(cpu, &limited);
            ++taken;
        }
    }
    sched_setaffinity(0, sizeof limited, &limited);
}

void BM_TranscribeTenMinutes(benchmark::State& state) {
    if (!weightsAreFetched()) {
        state.SkipWithError("the base weights or the recordings are missing: run scripts/fetch-models");
        return;
    }
    const Speech& speech = tenMinutes();
    const fs::path folder = variantFolder();
    const auto engine = Vocalith::create(VocalithConfig{.modelFolder = folder.string(), .verbose = false});
    DecodingOptions options;
    options.language = "en";
    options.chunkingStrategy = ChunkingStrategy::vad;

    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const auto results = engine->transcribe(speech.samples, options);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);

        std::string heard;
        double total = 0, mel = 0, encoder = 0, decoder = 0, tokens = 0;
        for (const auto& result : results) {
            heard += result->text() + " ";
            const auto timings = result->timings();
            total += timings.fullPipeline;
            mel += timings.logmels;
            encoder += timings.encoding;
            // Every decoding pass, the ones redone at a higher temperature included: the model's
            // steps and the sampling, filtering and cache updates between them.
            decoder += timings.decodingPredictions + timings.decodingNonPrediction;
            tokens += timings.totalDecodingLoops;
        }
        const double audioSeconds = static_cast<double>(speech.samples.size()) / Vocalith::sampleRate;
        state.counters["audio_s"] = audioSeconds;
        state.counters["rtf"] = seconds / audioSeconds;
        state.counters["wer"] = testing::wordErrors(speech.text, heard).rate();
        state.counters["pieces"] = static_cast<double>(results.size());
        state.counters["tokens"] = tokens;
        state.counters["mel_share"] = total > 0 ? mel / total : 0;
        state.counters["encoder_share"] = total > 0 ? encoder / total : 0;
        state.counters["decoder_share"] = total > 0 ? decoder / total : 0;
    }
}

int runUnderLimit(int processors, int argc, char** argv) {
    benchmark::RegisterBenchmark("BM_TranscribeTenMinutes", BM_TranscribeTenMinutes)
        ->Arg(processors)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kSecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (const char* processors = std::getenv(kProcessorsVariable))
        return runUnderLimit(std::atoi(processors), argc, argv);
    int status = 0;
    for (const int processors : kProcessorCounts) {
        const pid_t child = fork();
        if (child == 0) {
            limitToProcessors(processors);
            setenv(kProcessorsVariable, std::to_string(processors).c_str(), 1);
            execv("/proc/self/exe", argv);
            _exit(127);
        }
        int result = 0;
        if (child < 0 || waitpid(child, &result, 0) != child || !WIFEXITED(result) ||
            WEXITSTATUS(result) != 0)
            status = 1;
    }
    return status;
}
