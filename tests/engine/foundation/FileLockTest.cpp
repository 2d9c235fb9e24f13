#include "engine/foundation/FileLock.h"

#include "engine/foundation/HubError.h"
#include "support/CacheFiles.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace basalith {
namespace {

// Runs `probe` in a child process; its exit status.
int inChildProcess(const std::function<bool()>& probe) {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(probe() ? 0 : 1);
    int status = -1;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(FileLockTest, ExcludesOtherProcessesAndThreadsUntilReleased) {
    velnote::testing::TempDir temp;
    const auto path = temp / "file.incomplete.lock";
    auto held = std::make_optional(FileLock::acquire(path, {}));
    held->setContent("\"v1\"");

    EXPECT_EQ(inChildProcess([&] { return !FileLock::tryAcquire(path).has_value(); }), 0);
    EXPECT_FALSE(FileLock::tryAcquire(path).has_value()) << "a second handle in this process waits too";

    std::stop_source stop;
    std::optional<HubError::Kind> waiter;
    std::thread thread(
        [&] { waiter = testing::hubFailure([&] { FileLock::acquire(path, stop.get_token()); }); });
    stop.request_stop();
    thread.join();
    EXPECT_EQ(waiter, HubError::Kind::cancelled);

    held.reset();
    EXPECT_EQ(inChildProcess([&] {
                  auto lock = FileLock::tryAcquire(path);
                  return lock && lock->content() == "\"v1\"";
              }),
              0);
}

// The holder deletes the lock file as it finishes; whoever comes next locks a new file, and two
// holders never overlap.
TEST(FileLockTest, DeletedLockFileIsNotHeldTwice) {
    velnote::testing::TempDir temp;
    const auto path = temp / "file.incomplete.lock";
    auto first = std::make_optional(FileLock::acquire(path, {}));
    std::optional<FileLock> second;
    std::thread waiter([&] { second = FileLock::acquire(path, {}); });
    first->removeFile();
    first.reset();
    waiter.join();
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_FALSE(FileLock::tryAcquire(path).has_value());
    EXPECT_EQ(second->content(), "");
}

} // namespace
} // namespace basalith
