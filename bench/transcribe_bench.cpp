// Ten minutes of real recorded speech (the telephone prompts of the speech cache, joined in name
// order with a quarter second between them) through the whole engine with the real base model, as
// the application calls it: VAD chunking, 16 concurrent pieces. Goals: a real-time factor of at
// most 0.02 on 8 processors (0.06 on 2) and a word error rate of at most 10 % against the prompts'
// texts. Reports both, and the shares of the summed task time spent in the mel spectrogram, the
// audio encoder and the text decoder (every pass, fallbacks included), with the tokens decoded.
// The processor count is set by the process's CPU affinity, which the model runtime takes its
// thread count from. The OpenMP runtime under ggml counts the processors once, at start, and
// shortens its threads' spinning only when they outnumber that count, so the /2 case run after /8
// in one process spins as on an 8-processor machine; `taskset -c 0,1 transcribe_bench
// --benchmark_filter=/2/` measures a 2-processor machine. On a shared machine with session-based
// scheduling groups, nice alone does not lift the benchmark above other sessions: start it in a
// session of its own (setsid) whose /proc/self/autogroup nice is raised as well.
//
// Needs scripts/fetch-models (the base weights and the recordings); without them the benchmark
// says so and skips.

#include "engine/speech/Vocalith.h"
#include "engine/speech/audio/AudioProcessor.h"
#include "platform/ml/convert/ModelConverter.h"
#include "support/SpeechCorpus.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <filesystem>
#include <sched.h>
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

// Restricts the process to its first `count` allowed processors for its lifetime.
class ProcessorLimit {
  public:
    explicit ProcessorLimit(int count) {
        sched_getaffinity(0, sizeof previous_, &previous_);
        cpu_set_t limited;
        CPU_ZERO(&limited);
        for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < count; ++cpu) {
            if (CPU_ISSET(cpu, &previous_)) {
                CPU_SET(cpu, &limited);
                ++taken;
            }
        }
        sched_setaffinity(0, sizeof limited, &limited);
    }
    ~ProcessorLimit() { sched_setaffinity(0, sizeof previous_, &previous_); }
    ProcessorLimit(const ProcessorLimit&) = delete;
    ProcessorLimit& operator=(const ProcessorLimit&) = delete;

  private:
    cpu_set_t previous_;
};

void BM_TranscribeTenMinutes(benchmark::State& state) {
    if (!weightsAreFetched()) {
        state.SkipWithError("the base weights or the recordings are missing: run scripts/fetch-models");
        return;
    }
    const Speech& speech = tenMinutes();
    const fs::path folder = variantFolder();
    const ProcessorLimit limit(static_cast<int>(state.range(0)));
    // Loaded under the limit: the runtime sizes its thread pool when a model loads.
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

} // namespace

BENCHMARK(BM_TranscribeTenMinutes)->Arg(8)->Arg(2)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
