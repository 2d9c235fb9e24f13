#pragma once

#include <benchmark/benchmark.h>
#include <chrono>
#include <functional>

namespace velnote::bench {

// Times `work` against its floor in the same iterations, alternately, so both see the same
// machine: the iteration time is the work's; the counters give both in milliseconds and
// `floor_ratio`, the work's time over the floor's. `prepare` runs untimed before each of them.
inline void compareWithFloor(benchmark::State& state, const std::function<void()>& prepare,
                             const std::function<void()>& work, const std::function<void()>& floor) {
    using Clock = std::chrono::steady_clock;
    const auto timed = [&](const std::function<void()>& run) {
        prepare();
        const auto start = Clock::now();
        run();
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    double workSeconds = 0;
    double floorSeconds = 0;
    for (auto _ : state) {
        const double floorTime = timed(floor);
        const double workTime = timed(work);
        floorSeconds += floorTime;
        workSeconds += workTime;
        state.SetIterationTime(workTime);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["work_ms"] = workSeconds / n * 1e3;
    state.counters["floor_ms"] = floorSeconds / n * 1e3;
    state.counters["floor_ratio"] = floorSeconds > 0 ? workSeconds / floorSeconds : 0;
}

} // namespace velnote::bench
