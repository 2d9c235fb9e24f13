// The status snapshots of 10,000 sessions (a few years of meetings): a warm build (every session
// unchanged since the last build, so taken from the cache) against a cold one (every
// "session.json" read and decoded) in the same run. Goal: warm within 0.3 times cold (the
// `floor_ratio` counter; here the "floor" is the cold build).

#include "FloorComparison.h"
#include "platform/concurrency/SystemClock.h"
#include "processing/sessions/SessionSnapshotBuilder.h"
#include "session/folder/SessionMetadataStore.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace velnote {
namespace {
namespace fs = std::filesystem;

constexpr int kSessions = 10000;

struct Folders {
    fs::path root;
    fs::path working;
    fs::path saved;
    ~Folders() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
};

const Folders& folders() {
    static const Folders made = [] {
        Folders f;
        f.root = fs::temp_directory_path() / ("velnote-bench-snapshots-" + std::to_string(::getpid()));
        f.working = f.root / "WorkingSessions";
        f.saved = f.root / "Saved";
        fs::remove_all(f.root);
        SessionConfig config;
        config.summary.provider = "local";
        for (int i = 0; i < kSessions; ++i) {
            // Most sessions are closed into the saved folder; a few are still being worked on.
            const fs::path dir = (i % 20 == 0 ? f.working : f.saved) / ("session-" + std::to_string(i));
            fs::create_directories(dir);
            SessionMetadataStore::write(SessionMetadata::initial(config, platform::SystemClock::shared()),
                                        dir);
        }
        return f;
    }();
    return made;
}

SessionSnapshotBuilder::Dependencies dependencies(const Folders& f) {
    return {[&f] { return f.working; }, [&f] { return ResolvedDirectory{.url = f.saved}; }, nullptr};
}

void BM_WarmAgainstColdSnapshots(benchmark::State& state) {
    const Folders& f = folders();
    SessionSnapshotBuilder warm(dependencies(f));
    warm.snapshotAll({}, {});
    bench::compareWithFloor(
        state, [] {}, [&] { benchmark::DoNotOptimize(warm.snapshotAll({}, {})); },
        [&] {
            SessionSnapshotBuilder cold(dependencies(f));
            benchmark::DoNotOptimize(cold.snapshotAll({}, {}));
        });
    state.counters["sessions"] = kSessions;
}
BENCHMARK(BM_WarmAgainstColdSnapshots)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);

} // namespace
} // namespace velnote

BENCHMARK_MAIN();
