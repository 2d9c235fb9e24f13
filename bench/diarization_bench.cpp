// One hour of 16 kHz audio through the diarization pipeline (segmentation, embedding, clustering,
// post-processing) with models of realistic size: random weights, about 1.7 million F16 weights
// in the segmenter (10-second windows, 3 local speakers), 2 million in the embedder, 1 million
// F32 in the PLDA projection. The goal is a whole hour within 60 s on 8 cores. Beside it the
// segmenter's weight products alone (the bulk of the arithmetic, same shapes and types) give the
// ggml throughput of this machine and the `bound_s` an hour would take at it; and 4 segmenter
// workers against 1. Run with --benchmark_filter to pick one.

#include "engine/diarization/Diarith.h"
#include "engine/diarization/loader/ModelSetGenerator.h"
#include "platform/ml/Graph.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace diarith;
namespace ml = velnote::platform::ml;

ModelSetSizes benchSizes() {
    ModelSetSizes sizes;
    sizes.segmenter.bandCount = 64;
    sizes.segmenter.hiddenWidth = 512;
    sizes.segmenter.blockCount = 6;
    sizes.embedder.projectionWidth = 1024;
    sizes.embedder.embeddingLength = 1024;
    sizes.plda.embeddingLength = 1024;
    return sizes.consistent();
}

const fs::path& modelFolder() {
    static const fs::path folder = [] {
        fs::path path =
            fs::temp_directory_path() / ("velnote-diarization-bench-" + std::to_string(::getpid()));
        writeModelSet(path, GeneratedWeights::random, 1, benchSizes());
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(modelFolder(), ignored);
        });
        return path;
    }();
    return folder;
}

// An hour of speech-like sound: tones that change pitch every few seconds, with a little noise.
const std::vector<float>& oneHour() {
    static const std::vector<float> audio = [] {
        std::vector<float> out(16000u * 3600u);
        std::uint64_t state = 1;
        for (std::size_t i = 0; i < out.size(); ++i) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            const double hz = 200.0 + 150.0 * static_cast<double>((i / 48000) % 7);
            out[i] = static_cast<float>(
                0.3 * std::sin(2 * 3.14159265358979 * hz * static_cast<double>(i) / 16000.0) +
                0.01 * (static_cast<double>(state >> 40) / 8388608.0 - 1.0));
        }
        return out;
    }();
    return audio;
}

PyannoteConfig benchConfig(std::int64_t segmenterWorkers) {
    return PyannoteConfig(std::nullopt, kDefaultModelRepo, std::nullopt, modelFolder().string(), false, false,
                          "http://127.0.0.1:9", "main", true, false, basalith::Logging::LogLevel::none, false,
                          segmenterWorkers, std::nullopt, nullptr);
}

// Weight products of the segmenter for one hour: 120 chunks of 21 windows × 589 frames.
double segmenterWeightFlops() {
    const auto s = benchSizes().segmenter;
    const double frames = 120.0 * s.windowCount * s.frameCount;
    const double weights = 3.0 * s.bandCount * s.hiddenWidth +
                           double(s.blockCount) * s.hiddenWidth * s.hiddenWidth +
                           double(s.hiddenWidth) * s.speakerCount;
    return 2.0 * frames * weights;
}

double& boundSeconds() {
    static double seconds = 0;
    return seconds;
}

// The segmenter's weight products of one chunk, as one graph.
void BM_SegmenterMatmulBound(benchmark::State& state) {
    const auto s = benchSizes().segmenter;
    const std::int64_t frames = std::int64_t{s.windowCount} * s.frameCount, h = s.hiddenWidth;
    ml::ConstantTensors weights(4);
    ggml_tensor* conv = weights.add(GGML_TYPE_F16, {3 * s.bandCount, h});
    ggml_tensor* block = weights.add(GGML_TYPE_F16, {h, h});
    weights.allocate();
    ml::Graph graph(256);
    ggml_context* ctx = graph.context();
    ggml_tensor* columns = graph.input(GGML_TYPE_F32, {3 * s.bandCount, frames});
    ggml_tensor* x = graph.input(GGML_TYPE_F32, {h, frames});
    graph.output(ggml_mul_mat(ctx, conv, columns));
    for (int b = 0; b < s.blockCount; ++b)
        graph.output(ggml_mul_mat(ctx, block, x));
    graph.allocate();
    const int threads = static_cast<int>(state.range(0));
    graph.compute(threads);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        graph.compute(threads);
    const double perChunk = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                            static_cast<double>(state.iterations());
    boundSeconds() = perChunk * 120.0;
    state.counters["GFLOPS"] = segmenterWeightFlops() / 120.0 * 1e-9 / perChunk;
    state.counters["bound_s"] = boundSeconds();
}

void BM_DiarizeOneHour(benchmark::State& state) {
    const auto& audio = oneHour();
    Diarith engine(benchConfig(state.range(0)));
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const auto result = engine.diarize(audio);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        state.counters["hour_s"] = seconds;
        state.counters["speakers"] = static_cast<double>(result.speakerCount());
        if (boundSeconds() > 0)
            state.counters["bound_ratio"] = seconds / boundSeconds();
    }
}

} // namespace

BENCHMARK(BM_SegmenterMatmulBound)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DiarizeOneHour)->Arg(1)->Arg(4)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
