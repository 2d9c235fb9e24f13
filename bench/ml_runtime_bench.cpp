// The speech networks at base size on the CPU. The encoder pass is measured beside the matrix
// products of its weights alone (the weights in the type the loader holds them in, BF16 where the
// processor has BF16 dot products and F16 elsewhere; F32 activations; the same shapes): their
// throughput sets the bound, the time the pass's whole arithmetic (attention included) would take
// at that throughput. The goal is a pass within 1.3 times the bound: the `bound_ratio` counter.
// Run with --benchmark_filter to pick one.

#include "platform/ml/Graph.h"
#include "platform/ml/Model.h"
#include "platform/ml/ModelGenerator.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <ggml-alloc.h>
#include <ggml-backend.h>
#include <ggml-cpu.h>
#include <map>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace velnote::platform::ml;
using basalith::MultiArray;
using basalith::MultiArrayDataType;

const AudioEncoderConfig kEncoder{
    .melCount = 80, .contextLength = 1500, .width = 512, .headCount = 8, .layerCount = 6};
const TextDecoderConfig kDecoder{.vocabularySize = 51865,
                                 .contextLength = 448,
                                 .width = 512,
                                 .headCount = 8,
                                 .layerCount = 6,
                                 .audioContextLength = 1500,
                                 .kvCacheLength = 224,
                                 .alignmentHeads = {{3, 1}, {4, 2}, {5, 0}}};

// Model folders written once per run into a temporary folder, removed at exit.
const fs::path& modelFolder() {
    static const fs::path folder = [] {
        fs::path path = fs::temp_directory_path() / ("velnote-bench-" + std::to_string(::getpid()));
        writeRandomModel(path / "AudioEncoder.mlmodelc", kEncoder, 1);
        writeRandomModel(path / "TextDecoder.mlmodelc", kDecoder, 1);
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(modelFolder(), ignored);
        });
        return path;
    }();
    return folder;
}

MultiArray filled(std::vector<std::int64_t> shape, MultiArrayDataType type) {
    MultiArray array(std::move(shape), type);
    if (type == MultiArrayDataType::float16) {
        auto* v = array.dataAs<basalith::Float16>();
        for (std::int64_t i = 0; i < array.count(); ++i)
            v[i] = static_cast<basalith::Float16>(std::sin(0.01 * static_cast<double>(i)));
    }
    return array;
}

// Floating-point operations of one encoder pass in its weight products, and in all its products
// (attention scores and weighted sums added).
double encoderWeightFlops() {
    const double d = kEncoder.width, frames = kEncoder.contextLength, mels = kEncoder.melCount;
    const double conv = 2.0 * (mels * 3 * d * 2 * frames + d * 3 * d * frames);
    return conv + kEncoder.layerCount * 2.0 * (4 * d * d * frames + 2 * 4 * d * d * frames);
}
double encoderFlops() {
    const double d = kEncoder.width, frames = kEncoder.contextLength;
    return encoderWeightFlops() + kEncoder.layerCount * 2.0 * 2 * frames * frames * d;
}

// Weight-product throughput measured by BM_EncoderMatmulBound, by thread count, in FLOP/s.
std::map<int, double>& boundThroughput() {
    static std::map<int, double> measured;
    return measured;
}

void BM_EncoderPass(benchmark::State& state) {
    const auto model = Model::load(modelFolder() / "AudioEncoder.mlmodelc", basalith::ComputeUnits::all,
                                   {.threads = static_cast<int>(state.range(0))});
    const FeatureMap inputs{
        {"melspectrogram_features", filled({1, 80, 1, 3000}, MultiArrayDataType::float16)}};
    model->predict(inputs);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        benchmark::DoNotOptimize(model->predict(inputs));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                           static_cast<double>(state.iterations());
    state.counters["GFLOPS"] = encoderFlops() * 1e-9 / seconds;
    if (auto found = boundThroughput().find(static_cast<int>(state.range(0)));
        found != boundThroughput().end()) {
        const double boundSeconds = encoderFlops() / found->second;
        state.counters["bound_ms"] = boundSeconds * 1e3;
        state.counters["bound_ratio"] = seconds / boundSeconds;
    }
}

// Only the encoder's matrix products, with the same shapes and types, in one graph.
void BM_EncoderMatmulBound(benchmark::State& state) {
    const std::int64_t d = kEncoder.width, frames = kEncoder.contextLength, mels = kEncoder.melCount;
    const ggml_type held = ggml_cpu_has_avx512_bf16() ? GGML_TYPE_BF16 : GGML_TYPE_F16;
    ConstantTensors weights(8);
    ggml_tensor* conv1 = weights.add(GGML_TYPE_F16, {mels * 3, d});
    ggml_tensor* conv2 = weights.add(GGML_TYPE_F16, {d * 3, d});
    ggml_tensor* square = weights.add(held, {d, d});
    ggml_tensor* up = weights.add(held, {d, 4 * d});
    ggml_tensor* down = weights.add(held, {4 * d, d});
    weights.allocate();

    Graph graph(1024);
    ggml_context* ctx = graph.context();
    ggml_tensor* melColumns = graph.input(GGML_TYPE_F32, {mels * 3, 2 * frames});
    ggml_tensor* convColumns = graph.input(GGML_TYPE_F32, {d * 3, frames});
    ggml_tensor* x = graph.input(GGML_TYPE_F32, {d, frames});
    ggml_tensor* hidden = graph.input(GGML_TYPE_F32, {4 * d, frames});
    graph.output(ggml_mul_mat(ctx, conv1, melColumns));
    graph.output(ggml_mul_mat(ctx, conv2, convColumns));
    for (int layer = 0; layer < kEncoder.layerCount; ++layer) {
        for (int projection = 0; projection < 4; ++projection)
            graph.output(ggml_mul_mat(ctx, square, x));
        graph.output(ggml_mul_mat(ctx, up, x));
        graph.output(ggml_mul_mat(ctx, down, hidden));
    }
    graph.allocate();
    const int threads = static_cast<int>(state.range(0));
    graph.compute(threads);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        graph.compute(threads);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                           static_cast<double>(state.iterations());
    boundThroughput()[threads] = encoderWeightFlops() / seconds;
    state.counters["GFLOPS"] = encoderWeightFlops() * 1e-9 / seconds;
}

// One decoder step in the middle of a window: the cross-attention of this encoder output is
// already cached, as it is for every token after a window's first.
void BM_DecoderStep(benchmark::State& state) {
    const auto model = Model::load(modelFolder() / "TextDecoder.mlmodelc", basalith::ComputeUnits::all,
                                   {.threads = static_cast<int>(state.range(0))});
    const std::int64_t e = kDecoder.kvCacheWidth(), s = kDecoder.kvCacheLength;
    MultiArray update({1, s}, MultiArrayDataType::int32), padding({1, s}, MultiArrayDataType::float16);
    update.dataAs<std::int32_t>()[20] = 1;
    for (std::int64_t i = 21; i < s; ++i)
        padding.dataAs<basalith::Float16>()[i] = static_cast<basalith::Float16>(-10000.0f);
    const FeatureMap inputs{{"input_ids", MultiArray::from({50364}, 1)},
                            {"cache_length", MultiArray::from({20}, 1)},
                            {"key_cache", filled({1, e, 1, s}, MultiArrayDataType::float16)},
                            {"value_cache", filled({1, e, 1, s}, MultiArrayDataType::float16)},
                            {"kv_cache_update_mask", update},
                            {"encoder_output_embeds", filled({1, 512, 1, 1500}, MultiArrayDataType::float16)},
                            {"decoder_key_padding_mask", padding}};
    model->predict(inputs);
    for (auto _ : state)
        benchmark::DoNotOptimize(model->predict(inputs));
}

// A window's first step: the cross-attention keys and values of a new encoder output are
// computed too (five outputs in turn, one more than the decoder keeps).
void BM_DecoderFirstStep(benchmark::State& state) {
    const auto model = Model::load(modelFolder() / "TextDecoder.mlmodelc", basalith::ComputeUnits::all,
                                   {.threads = static_cast<int>(state.range(0))});
    const std::int64_t e = kDecoder.kvCacheWidth(), s = kDecoder.kvCacheLength;
    MultiArray update({1, s}, MultiArrayDataType::int32), padding({1, s}, MultiArrayDataType::float16);
    update.dataAs<std::int32_t>()[0] = 1;
    for (std::int64_t i = 1; i < s; ++i)
        padding.dataAs<basalith::Float16>()[i] = static_cast<basalith::Float16>(-10000.0f);
    FeatureMap inputs{{"input_ids", MultiArray::from({50258}, 1)},
                      {"cache_length", MultiArray::from({0}, 1)},
                      {"key_cache", MultiArray({1, e, 1, s}, MultiArrayDataType::float16)},
                      {"value_cache", MultiArray({1, e, 1, s}, MultiArrayDataType::float16)},
                      {"kv_cache_update_mask", update},
                      {"decoder_key_padding_mask", padding}};
    std::vector<MultiArray> encoded;
    for (int i = 0; i < 5; ++i) {
        encoded.push_back(filled({1, 512, 1, 1500}, MultiArrayDataType::float16));
        encoded.back().dataAs<basalith::Float16>()[0] = static_cast<basalith::Float16>(i);
    }
    std::size_t next = 0;
    for (auto _ : state) {
        inputs.insert_or_assign("encoder_output_embeds", encoded[next++ % encoded.size()]);
        benchmark::DoNotOptimize(model->predict(inputs));
    }
}

BENCHMARK(BM_EncoderMatmulBound)->Arg(8)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_EncoderPass)->Arg(8)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_DecoderFirstStep)->Arg(8)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_DecoderStep)
    ->Arg(8)
    ->Arg(4)
    ->Arg(2)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
