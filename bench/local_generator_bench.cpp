// Goal: the local text generator produces at least 0.98 times the tokens per second of llama.cpp's
// own llama-bench text-generation test on the same model, with the same threads, in the same run.
// The model is written here: a llama GGUF of half a billion random F16 weights. Both figures and
// their ratio are reported as counters and in a line at the end. VELNOTE_BENCH_THREADS sets the threads
// of both.

#include "summary/local/LlamaCppTextGenerator.h"
#include "support/TinyLlamaGguf.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace velnote {
namespace {
namespace fs = std::filesystem;

constexpr int kTokens = 128; // llama-bench's own default
const std::string kPrompt = "a";

struct Results {
    double generator = 0;
    double llamaBench = 0;
} results;

fs::path benchFolder() {
    return fs::temp_directory_path() / ("velnote-bench-llm-" + std::to_string(::getpid()));
}

const fs::path& benchModel() {
    static const fs::path path = [] {
        const fs::path folder = benchFolder();
        fs::create_directories(folder);
        const fs::path model = folder / "random-0.5b.gguf";
        testing::TinyLlamaShape shape;
        shape.contextLength = 2048;
        shape.embedding = 1024;
        shape.heads = 16;
        shape.feedForward = 4096;
        shape.layers = 30;
        shape.randomSeed = 20261211;
        testing::writeTinyLlamaGguf(model, shape);
        return model;
    }();
    return path;
}

// The generator's own thread count for this machine, or VELNOTE_BENCH_THREADS (on a machine busy
// with other work, fewer threads than cores keep both sides from waiting on descheduled workers).
std::int32_t threads() {
    if (const char* wanted = std::getenv("VELNOTE_BENCH_THREADS"))
        return std::max(1, std::atoi(wanted));
    return LlamaCppTextGenerator::threadCount(LlamaCppTextGenerator::Machine::current().processorCount);
}

LlamaCppTextGenerator& generator() {
    static LlamaCppTextGenerator instance([] {
        LlamaCppTextGenerator::Options options;
        options.machine.processorCount = static_cast<unsigned>(threads()) + 2; // the generator leaves two
        return options;
    }());
    return instance;
}

// Tokens per second of one attempt's generation, measured as llama-bench measures its own: its
// context has decoded one single token before the clock starts (its warm-up), so ours starts at
// the second token. Tokens are counted by the generator's check before each one (a random model
// may end early on its end token); loading, the context and the prompt come before.
double generatorRun() {
    int steps = 0;
    std::chrono::steady_clock::time_point start;
    generator().generate(kPrompt, benchModel(), kTokens + 1, 1234, 0.4f, [&] {
        if (++steps == 2)
            start = std::chrono::steady_clock::now();
        return false;
    });
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return (steps - 1) / took.count();
}

// llama-bench's text-generation figure (tokens per second, the best of its repetitions).
double llamaBenchRun() {
    const std::string command = std::string(VELNOTE_LLAMA_BENCH) + " -m " + benchModel().string() +
                                " -p 0 -n " + std::to_string(kTokens) + " -t " + std::to_string(threads()) +
                                " -r 1 -o json 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), &::pclose);
    if (!pipe)
        throw std::runtime_error("cannot run llama-bench");
    std::string output;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe.get()))
        output.append(buffer, n);
    const auto json = nlohmann::json::parse(output);
    return json.at(0).at("avg_ts").get<double>();
}

// Both, turn about, so that a machine busy with other work weighs on each alike; the best run of
// each counts.
void BM_GeneratorAgainstLlamaBench(benchmark::State& state) {
    if (!fs::exists(VELNOTE_LLAMA_BENCH)) {
        state.SkipWithError("llama-bench is missing: run scripts/install-deps");
        return;
    }
    generatorRun(); // loads the model and warms the caches, as llama-bench's warm-up run
    for (auto _ : state) {
        results.generator = std::max(results.generator, generatorRun());
        results.llamaBench = std::max(results.llamaBench, llamaBenchRun());
    }
    state.counters["generator_tokens_per_second"] = results.generator;
    state.counters["llama_bench_tokens_per_second"] = results.llamaBench;
    state.counters["ratio"] = results.generator / results.llamaBench;
    state.counters["threads"] = threads();
}

BENCHMARK(BM_GeneratorAgainstLlamaBench)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace velnote

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const auto& r = velnote::results;
    if (r.generator > 0 && r.llamaBench > 0)
        std::printf("generator %.1f tokens/s, llama-bench %.1f tokens/s, ratio %.3f (goal >= 0.98)\n",
                    r.generator, r.llamaBench, r.generator / r.llamaBench);
    std::error_code ignored;
    std::filesystem::remove_all(velnote::benchFolder(), ignored);
    return 0;
}
