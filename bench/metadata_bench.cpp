// One change to a session's "session.json" through the metadata store (lock, read, decode,
// change, encode, atomic replace) against its floor in the same run: writing the same bytes to a
// new file, syncing it and renaming it over the old one. The store's price over the floor is the
// `floor_ratio` counter.

#include "FloorComparison.h"
#include "platform/concurrency/SystemClock.h"
#include "session/folder/SessionMetadataStore.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace velnote {
namespace {
namespace fs = std::filesystem;

void writeSyncRename(const fs::path& target, const std::string& bytes) {
    const fs::path temporary = target.parent_path() / ".floor.tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
        ::fsync(fd) != 0)
        throw std::runtime_error("cannot write " + temporary.string());
    ::close(fd);
    if (std::rename(temporary.c_str(), target.c_str()) != 0)
        throw std::runtime_error("cannot rename " + temporary.string());
}

void BM_MetadataUpdateAgainstFloor(benchmark::State& state) {
    const fs::path root =
        fs::temp_directory_path() / ("velnote-bench-metadata-" + std::to_string(::getpid()));
    const fs::path session = root / "session";
    const fs::path floorDir = root / "floor";
    fs::create_directories(session);
    fs::create_directories(floorDir);
    SessionConfig config;
    config.summary.provider = "local";
    SessionMetadataStore::write(SessionMetadata::initial(config, platform::SystemClock::shared()), session);
    const std::string bytes = SessionMetadataStore::encode(SessionMetadataStore::read(session));
    int round = 0;
    bench::compareWithFloor(
        state, [] {},
        [&] {
            SessionMetadataStore::update(session, [&](SessionMetadata& metadata) {
                metadata.summaryHeadline = "Round " + std::to_string(++round);
            });
        },
        [&] { writeSyncRename(floorDir / "session.json", bytes); });
    fs::remove_all(root);
}
BENCHMARK(BM_MetadataUpdateAgainstFloor)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);

} // namespace
} // namespace velnote

BENCHMARK_MAIN();
