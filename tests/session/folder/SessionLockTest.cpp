#include "session/folder/SessionLock.h"

#include "platform/concurrency/ManualClock.h"
#include "platform/fs/Files.h"
#include "platform/logging/Logger.h"
#include "session/folder/SessionMetadataStore.h"
#include "support/BadJson.h"
#include "support/SessionSamples.h"
#include "support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velnote {
namespace {
namespace fs = std::filesystem;
using platform::Json;
using platform::ManualClock;
using namespace std::chrono_literals;

class SessionLockTest : public ::testing::Test {
  protected:
    fs::path lockFile() const { return SessionLock::fileIn(dir_.path()); }
    void writeLock(const std::string& content) const { std::ofstream(lockFile()) << content; }
    std::string lockWithPid(std::int64_t pid) const {
        return R"({"pid":)" + std::to_string(pid) + R"(,"acquiredAt":"2025-01-31T09:15:00Z","step":"start"})";
    }
    // A clock whose wall time is `age` past the lock file's creation.
    ManualClock clockAtAge(ManualClock::Duration age) const {
        return ManualClock(ManualClock::SteadyTime{} + 24h, *platform::creationDate(lockFile()) + age);
    }

    testing::TempDir dir_;
};

constexpr ManualClock::Duration kGraceBeyond = 12s;

pid_t exitedProcessId() {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

TEST_F(SessionLockTest, AcquireCreatesCompactContentOnce) {
    ManualClock clock;
    ASSERT_TRUE(SessionLock::acquire(dir_.path(), "transcription", clock));
    const std::string content = platform::readFile(lockFile());
    EXPECT_EQ(content.find('\n'), std::string::npos);
    EXPECT_EQ(content.find(' '), std::string::npos);
    const Json j = platform::parseJson(content);
    EXPECT_EQ(j,
              Json({{"pid", ::getpid()}, {"acquiredAt", "2024-01-01T00:00:00Z"}, {"step", "transcription"}}));

    EXPECT_FALSE(SessionLock::acquire(dir_.path(), "summary", clock));
    EXPECT_EQ(platform::readFile(lockFile()), content);
    EXPECT_FALSE(SessionLock::isStale(dir_.path(), clock));
}

TEST_F(SessionLockTest, AcquireRefusesAnyExistingFileAndAMissingFolder) {
    for (const std::string& existing : {std::string(), lockWithPid(exitedProcessId())}) {
        writeLock(existing);
        EXPECT_FALSE(SessionLock::acquire(dir_.path(), "start"));
        EXPECT_EQ(platform::readFile(lockFile()), existing);
    }
    EXPECT_FALSE(SessionLock::acquire(dir_.path() / "missing", "start"));
    EXPECT_FALSE(fs::exists(dir_.path() / "missing"));
}

TEST_F(SessionLockTest, OnlyOneOfManyConcurrentAcquiresWins) {
    std::atomic<int> winners = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] { winners += SessionLock::acquire(dir_.path(), "start") ? 1 : 0; });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(winners, 1);
}

TEST_F(SessionLockTest, StaleByOwnerProcess) {
    EXPECT_TRUE(SessionLock::isStale(dir_.path())) << "no lock at all";
    struct Case {
        std::int64_t pid;
        bool stale;
    };
    const Case cases[] = {
        {::getpid(), false}, {exitedProcessId(), true}, {0, true}, // would name our own process group
        {-1, true},                                                // would name every process we may signal
        {1LL << 40, true},                                         // no process id is this large
    };
    for (const Case& c : cases) {
        writeLock(lockWithPid(c.pid));
        EXPECT_EQ(SessionLock::isStale(dir_.path()), c.stale) << c.pid;
    }
}

TEST_F(SessionLockTest, UndecodableLockIsStaleOnlyAfterTheGracePeriod) {
    struct Case {
        ManualClock::Duration age;
        bool stale;
    };
    const Case cases[] = {{3s, false}, {9900ms, false}, {10s, true}, {12s, true}, {-5s, false}};
    for (const std::string& content :
         {std::string(), std::string(R"({"pid":1)"), std::string(R"({"pid":1})")}) {
        writeLock(content);
        for (const Case& c : cases) {
            platform::LogCapture capture;
            EXPECT_EQ(SessionLock::isStale(dir_.path(), clockAtAge(c.age)), c.stale)
                << "'" << content << "' at " << std::chrono::duration<double>(c.age).count() << " s";
            EXPECT_EQ(capture.contains("failed to decode lock file: " + dir_.path().filename().string()),
                      c.stale);
        }
    }
}

// The lock of a live owner (this process), spoiled: read as undecodable (stale after the grace
// period), never as the owner's lock nor as an exception out of the queue's start-up repair.
TEST_F(SessionLockTest, BadInputIsUndecodableNotTheOwnersLock) {
    const Json valid = platform::parseJson(lockWithPid(::getpid()));
    for (const auto& bad : testing::badJsonVariants(valid, {.number = "/pid", .date = "/acquiredAt"})) {
        SCOPED_TRACE(bad.name);
        writeLock(bad.text);
        platform::LogCapture capture;
        EXPECT_TRUE(SessionLock::isStale(dir_.path(), clockAtAge(kGraceBeyond)));
        EXPECT_TRUE(capture.contains("failed to decode lock file"));
    }
}

// Not a lock this program writes: judged stale at once, without waiting on a FIFO's writer or
// reading a huge file into memory, so clearing it lets the session go on.
TEST_F(SessionLockTest, LockThatIsNoSmallRegularFileIsStale) {
    const fs::path lock = SessionLock::fileIn(dir_.path());
    ASSERT_EQ(::mkfifo(lock.c_str(), 0600), 0);
    EXPECT_TRUE(SessionLock::isStale(dir_.path()));
    SessionLock::release(dir_.path());
    writeLock(lockWithPid(::getpid()) + std::string(SessionLock::kMaxFileBytes, ' '));
    EXPECT_TRUE(SessionLock::isStale(dir_.path()));
}

TEST_F(SessionLockTest, ReleaseRemovesAnyLockAndIsSilentWhenNoneIsLeft) {
    writeLock(lockWithPid(::getpid()));
    platform::LogCapture capture;
    SessionLock::release(dir_.path());
    SessionLock::release(dir_.path());
    EXPECT_FALSE(fs::exists(lockFile()));
    EXPECT_TRUE(capture.records().empty());
}

class SessionLockClearStaleTest : public SessionLockTest {
  protected:
    void writeMetadata(const SessionSteps& steps, bool diarization, const std::string& provider) const {
        SessionConfig config = testing::sampleConfig();
        config.transcription.diarizationEnabled = diarization;
        config.summary.provider = provider;
        SessionMetadata m = SessionMetadata::initial(config, clock_);
        m.steps = steps;
        SessionMetadataStore::write(m, dir_.path());
    }
    void touch(const char* name) const { std::ofstream(dir_.path() / name) << "x"; }
    SessionSteps clear() const {
        SessionLock::clearStale(dir_.path(), clock_);
        return SessionMetadataStore::read(dir_.path()).steps;
    }

    ManualClock clock_;
    const std::chrono::sys_seconds now_ = std::chrono::floor<std::chrono::seconds>(clock_.wallNow());
    const std::chrono::sys_seconds earlier_ = now_ - std::chrono::hours(1);
};

TEST_F(SessionLockClearStaleTest, RunningStepsWithResultsBecomeDone) {
    StepState running{
        .status = StepStatus::running, .startedAt = earlier_, .error = "old error", .retryCount = 2};
    StepState runningCompleted = running;
    runningCompleted.completedAt = earlier_;
    writeMetadata({runningCompleted, StepState::fresh(StepStatus::skipped), running}, false, "openai");
    touch("transcript.txt");
    touch("summary.md");
    writeLock(lockWithPid(exitedProcessId()));

    const SessionSteps steps = clear();
    EXPECT_FALSE(fs::exists(lockFile()));
    EXPECT_EQ(steps.transcription, (StepState{.status = StepStatus::done,
                                              .startedAt = earlier_,
                                              .completedAt = earlier_,
                                              .error = "old error",
                                              .retryCount = 2}));
    EXPECT_EQ(steps.summary, (StepState{.status = StepStatus::done,
                                        .startedAt = earlier_,
                                        .completedAt = now_,
                                        .error = "old error",
                                        .retryCount = 2}));
    EXPECT_EQ(steps.diarization, StepState::fresh(StepStatus::skipped));
}

TEST_F(SessionLockClearStaleTest, RunningStepsWithoutResultsStartAfresh) {
    struct Case {
        bool diarization;
        const char* provider;
        StepStatus diarizationAfter;
        StepStatus summaryAfter;
    };
    const Case cases[] = {
        {true, "openai", StepStatus::pending, StepStatus::pending},
        {false, "", StepStatus::skipped, StepStatus::skipped},
    };
    const StepState running{.status = StepStatus::running,
                            .startedAt = earlier_,
                            .completedAt = earlier_,
                            .error = "boom",
                            .retryCount = 1};
    for (const Case& c : cases) {
        writeMetadata({running, running, running}, c.diarization, c.provider);
        const SessionSteps steps = clear();
        EXPECT_EQ(steps.transcription, StepState::fresh(StepStatus::pending));
        EXPECT_EQ(steps.diarization, StepState::fresh(c.diarizationAfter));
        EXPECT_EQ(steps.summary, StepState::fresh(c.summaryAfter));
    }
}

TEST_F(SessionLockClearStaleTest, StepsNotRunningAreLeftAlone) {
    const SessionSteps before{
        .transcription = StepState{.status = StepStatus::failed,
                                   .startedAt = earlier_,
                                   .completedAt = earlier_,
                                   .error = "boom",
                                   .retryCount = 2},
        .diarization = StepState::fresh(StepStatus::pending),
        .summary = StepState{.status = StepStatus::done, .startedAt = earlier_, .completedAt = now_}};
    writeMetadata(before, true, "");
    EXPECT_EQ(clear(), before);
}

TEST_F(SessionLockClearStaleTest, MissingMetadataIsAnErrorAfterTheLockIsGone) {
    writeLock("");
    EXPECT_THROW(SessionLock::clearStale(dir_.path(), clock_), std::system_error);
    EXPECT_FALSE(fs::exists(lockFile()));
}

} // namespace
} // namespace velnote
