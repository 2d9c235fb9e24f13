// Ranking OpenRouter's entries, from a real list's size to the 100,000 a lying server may claim.
// Goal: the fitted complexity reads N lgN (`BigO` line of the output), never N^2.

#include "providers/models/RemoteModelFetchService.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <string>
#include <vector>

namespace velnote {
namespace {

std::vector<RemoteModelInfo> entries(std::int64_t count) {
    std::vector<RemoteModelInfo> infos;
    std::uint32_t seed = 11;
    for (std::int64_t i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        // Uptimes a fraction apart chain, as a crowded real list does.
        const auto uptime =
            seed % 7 == 0 ? std::nullopt : std::optional<double>(95.0 + (seed >> 12) % 50 / 10.0);
        const auto latency = seed % 5 == 0 ? std::nullopt : std::optional<std::int64_t>((seed >> 8) % 2000);
        infos.push_back({.id = "m/" + std::to_string(i), .uptimeLast30m = uptime, .latencyP50ms = latency});
    }
    return infos;
}

void BM_RankEntries(benchmark::State& state) {
    const auto infos = entries(state.range(0));
    for (auto _ : state) {
        auto ranked = infos;
        RemoteModelFetchService::rank(ranked);
        benchmark::DoNotOptimize(ranked.data());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_RankEntries)->RangeMultiplier(10)->Range(500, 100000)->Complexity();

} // namespace
} // namespace velnote

BENCHMARK_MAIN();
