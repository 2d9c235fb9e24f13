#include "platform/process/ChildProcess.h"

#include "platform/concurrency/CancellationError.h"
#include "support/TempDir.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace velnote::platform {
namespace {

using namespace std::chrono_literals;
using Stream = ChildProcess::Stream;

std::unique_ptr<ChildProcess> shell(const std::string& script, std::chrono::milliseconds grace = 2s,
                                    std::size_t maxBuffered = std::size_t{64} << 20) {
    return ChildProcess::launch(ProcessSpec{.executable = "/bin/sh",
                                            .arguments = {"-c", script, "sh", "one", "two words"},
                                            .environment = {"PATH=/usr/bin:/bin", "MARK=m1"},
                                            .outputGrace = grace,
                                            .maxBufferedBytes = maxBuffered});
}

ChildProcess::WaitResult waitBriefly(ChildProcess& child) {
    return child.waitForExit(ChildProcess::Clock::now() + 10s);
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The state letter of a process ("S", "Z", ...), or "" when there is no such process.
std::string processState(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string id, name, state;
    stat >> id >> name >> state;
    return state;
}

// Whether `pid` is gone or a zombie waiting to be reaped, once a killing signal had time to land.
bool endsSoon(pid_t pid) {
    std::string state = processState(pid);
    for (int i = 0; i < 200 && !state.empty() && state != "Z"; ++i) {
        std::this_thread::sleep_for(10ms);
        state = processState(pid);
    }
    return state.empty() || state == "Z";
}

TEST(ChildProcessTest, PassesArgumentsEnvironmentAndInputAndCollectsBothStreams) {
    auto child = shell(R"(printf '%s|' "$@" "$MARK"; cat; echo oops >&2; exit 3)");
    child->writeInput("from stdin");
    ASSERT_EQ(waitBriefly(*child), ChildProcess::WaitResult::exited);
    ASSERT_TRUE(child->waitForOutputEnd(Stream::standardOutput, ChildProcess::Clock::now() + 5s));
    ASSERT_TRUE(child->waitForOutputEnd(Stream::standardError, ChildProcess::Clock::now() + 5s));
    EXPECT_EQ(child->takeOutput(Stream::standardOutput), "one|two words|m1|from stdin");
    EXPECT_EQ(child->takeOutput(Stream::standardError), "oops\n");
    EXPECT_EQ(child->terminationStatus(), 3);
    EXPECT_FALSE(child->isRunning());
}

TEST(ChildProcessTest, KeepsEveryByteOfAFloodOnBothStreams) {
    // 200 KiB on each stream, interleaved, while standard input is not read at all.
    auto child =
        shell("head -c 204800 /dev/zero | tr '\\0' o & head -c 204800 /dev/zero | tr '\\0' e >&2; wait");
    child->writeInput(std::string(1 << 20, 'i'));
    ASSERT_EQ(waitBriefly(*child), ChildProcess::WaitResult::exited);
    child->waitForOutputEnd(Stream::standardOutput, ChildProcess::Clock::now() + 5s);
    child->waitForOutputEnd(Stream::standardError, ChildProcess::Clock::now() + 5s);
    EXPECT_EQ(child->takeOutput(Stream::standardOutput), std::string(800 * 256, 'o'));
    EXPECT_EQ(child->takeOutput(Stream::standardError), std::string(800 * 256, 'e'));
    EXPECT_EQ(child->terminationStatus(), 0);
}

TEST(ChildProcessTest, DeliversOutputPieceByPieceUntilTheEnd) {
    auto child = shell("echo first; sleep 0.1; echo second");
    std::string all;
    while (auto chunk = child->nextChunk(Stream::standardOutput))
        all += *chunk;
    EXPECT_EQ(all, "first\nsecond\n");
    std::stop_source stop;
    stop.request_stop();
    auto sleeper = shell("sleep 5");
    EXPECT_THROW(sleeper->nextChunk(Stream::standardOutput, stop.get_token()), CancellationError);
}

TEST(ChildProcessTest, KeepsAConversationOnStandardInput) {
    auto child = shell("while read -r line; do echo \"got $line\"; done; echo bye");
    const auto soon = [] { return ChildProcess::Clock::now() + 5s; };
    EXPECT_EQ(child->sendInput("one\n", soon()), ChildProcess::InputWrite::written);
    EXPECT_EQ(child->nextChunk(Stream::standardOutput), "got one\n");
    EXPECT_EQ(child->sendInput("two\n", soon()), ChildProcess::InputWrite::written);
    EXPECT_EQ(child->nextChunk(Stream::standardOutput), "got two\n");
    child->closeInput();
    EXPECT_EQ(child->nextChunk(Stream::standardOutput), "bye\n");
    ASSERT_EQ(waitBriefly(*child), ChildProcess::WaitResult::exited);
    EXPECT_EQ(child->sendInput("three\n", soon()), ChildProcess::InputWrite::closed);

    auto deaf = shell("exec sleep 30");
    EXPECT_EQ(deaf->sendInput(std::string(4 << 20, 'x'), ChildProcess::Clock::now() + 200ms),
              ChildProcess::InputWrite::deadlinePassed);
    auto gone = shell("exec 0<&-; sleep 30");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(gone->sendInput("x\n", soon()), ChildProcess::InputWrite::closed);
}

TEST(ChildProcessTest, ForceKillEndsATermIgnoringChildAndWhatItStarted) {
    testing::TempDir dir;
    const auto pidFile = dir / "grandchild.pid";
    auto child =
        shell("trap '' TERM; sleep 30 & echo $! > '" + pidFile.string() + "'; echo ready; wait; wait");
    ASSERT_EQ(child->nextChunk(Stream::standardOutput), "ready\n");
    const pid_t grandchild = std::stoi(readFile(pidFile));

    EXPECT_EQ(child->waitForExit(ChildProcess::Clock::now() + 100ms),
              ChildProcess::WaitResult::deadlinePassed);
    const auto start = ChildProcess::Clock::now();
    child->forceKill(200ms);
    ASSERT_EQ(waitBriefly(*child), ChildProcess::WaitResult::exited);
    EXPECT_GE(ChildProcess::Clock::now() - start, 150ms);
    EXPECT_EQ(child->terminationStatus(), SIGKILL);
    // The grandchild was in the child's group.
    EXPECT_TRUE(endsSoon(grandchild));
}

TEST(ChildProcessTest, StopsReadingOutputHeldOpenAfterTheChildExitsAndKillsWhatItLeftBehind) {
    testing::TempDir dir;
    const auto pidFile = dir / "left.pid";
    auto child = shell("sleep 30 & echo $! > '" + pidFile.string() + "'; echo hi", 200ms);
    ASSERT_EQ(waitBriefly(*child), ChildProcess::WaitResult::exited);
    EXPECT_TRUE(child->waitForOutputEnd(Stream::standardOutput, ChildProcess::Clock::now() + 5s));
    EXPECT_EQ(child->takeOutput(Stream::standardOutput), "hi\n");
    const pid_t leftBehind = std::stoi(readFile(pidFile));
    EXPECT_EQ(processState(leftBehind), "S");
    child.reset();
    EXPECT_TRUE(endsSoon(leftBehind));
}

TEST(ChildProcessTest, HoldsNoMoreOutputThanItsLimit) {
    constexpr std::size_t limit = 256 * 1024;
    // Standard output that nobody takes: it ends and the child is killed.
    auto flood = shell("yes flood", 2s, limit);
    ASSERT_EQ(waitBriefly(*flood), ChildProcess::WaitResult::exited);
    EXPECT_EQ(flood->terminationStatus(), SIGKILL);
    EXPECT_TRUE(flood->outputOverflowed());
    EXPECT_TRUE(flood->waitForOutputEnd(Stream::standardOutput, ChildProcess::Clock::now() + 5s));
    EXPECT_LE(flood->takeOutput(Stream::standardOutput).size(), limit);

    // Taken as it arrives, more than the limit passes.
    auto taken = shell("head -c 204800 /dev/zero; read -r go; head -c 204800 /dev/zero", 2s, limit);
    std::size_t bytes = 0;
    while (auto chunk = taken->nextChunk(Stream::standardOutput)) {
        const bool firstHalfTaken = bytes < 204800 && bytes + chunk->size() >= 204800;
        bytes += chunk->size();
        if (firstHalfTaken) // the child writes the second half only now
            taken->sendInput("go\n", ChildProcess::Clock::now() + 5s);
    }
    EXPECT_EQ(bytes, 409600u);
    EXPECT_FALSE(taken->outputOverflowed());

    // Standard error keeps its newest bytes and the child runs on.
    auto chatty = shell("head -c 1048576 /dev/zero >&2; echo last words >&2; echo answer", 2s, limit);
    ASSERT_EQ(waitBriefly(*chatty), ChildProcess::WaitResult::exited);
    EXPECT_EQ(chatty->terminationStatus(), 0);
    chatty->waitForOutputEnd(Stream::standardError, ChildProcess::Clock::now() + 5s);
    const std::string errorText = chatty->takeOutput(Stream::standardError);
    EXPECT_LE(errorText.size(), limit);
    EXPECT_TRUE(errorText.ends_with("last words\n"));
    chatty->waitForOutputEnd(Stream::standardOutput, ChildProcess::Clock::now() + 5s);
    EXPECT_EQ(chatty->takeOutput(Stream::standardOutput), "answer\n");
    EXPECT_FALSE(chatty->outputOverflowed());
}

TEST(ChildProcessTest, WaitingEndsOnAStop) {
    auto child = shell("sleep 30");
    std::stop_source stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(50ms);
        stop.request_stop();
    });
    EXPECT_EQ(child->waitForExit(ChildProcess::Clock::now() + 10s, stop.get_token()),
              ChildProcess::WaitResult::stopped);
    stopper.join();
    EXPECT_TRUE(child->isRunning());
} // the destructor kills the sleep

TEST(ChildProcessTest, LaunchFailuresCarryTheReason) {
    try {
        ProcessSpec spec;
        spec.executable = "/nonexistent/tool";
        ChildProcess::launch(spec);
        FAIL() << "launched";
    } catch (const ProcessLaunchError& e) {
        EXPECT_EQ(e.code().value(), ENOENT);
    }
    try {
        ProcessSpec spec;
        spec.executable = "/bin/echo";
        spec.arguments = {std::string("a\0b", 3)};
        ChildProcess::launch(spec);
        FAIL() << "launched";
    } catch (const ProcessLaunchError& e) {
        EXPECT_EQ(e.code().value(), EINVAL);
    }
}

TEST(ChildProcessTest, EnvironmentWithReplacesOneEntry) {
    testing::ScopedEnv path("PATH", "/old");
    const auto entries = environmentWith("PATH", "/new:/bin");
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "PATH=/new:/bin"), 1);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "PATH=/old"), 0);
}

} // namespace
} // namespace velnote::platform
