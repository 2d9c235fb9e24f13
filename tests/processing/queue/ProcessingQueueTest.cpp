#include "processing/queue/ProcessingQueue.h"

#include "platform/concurrency/ManualClock.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/settings/SettingsStore.h"
#include "session/folder/SessionLock.h"
#include "support/QueueTestSupport.h"
#include "support/TempDir.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <latch>
#include <set>
#include <thread>

namespace velnote {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::FakeSessionServices;

const StepState kDone{.status = StepStatus::done};

// Passes jobs on to a pool and counts them, to see which priority a task was given.
class CountingExecutor final : public platform::Executor {
  public:
    explicit CountingExecutor(platform::Executor& target) : target_(target) {}
    void post(platform::Job job) override {
        ++posted;
        target_.post(std::move(job));
    }
    std::atomic<int> posted{0};

  private:
    platform::Executor& target_;
};

class ProcessingQueueTest : public ::testing::Test {
  protected:
    ProcessingQueueTest() { fs::create_directories(base_); }
    ~ProcessingQueueTest() override {
        services_.releaseAll();
        queue_.reset();
    }

    ProcessingQueue& queue(ProcessingQueue::Timing timing = {}) {
        if (!queue_) {
            timing.watcherDebounce = watcherDebounce_;
            ProcessingQueue::Dependencies d;
            d.timers = &timers_;
            d.power = &power_;
            d.uptime = [this] { return uptime_.load(); };
            d.utilityExecutor = &utility_;
            d.backgroundExecutor = &background_;
            d.mainDispatcher = &main_;
            d.appState = &appState_;
            d.transcribe = services_.transcribeFunction();
            d.summary = services_.summaryService();
            d.acquireLock = lock_.function();
            d.clearChunkCaches = [this](const std::vector<fs::path>& chunks) {
                std::lock_guard lock(mutex_);
                clearedChunks_.insert(clearedChunks_.end(), chunks.begin(), chunks.end());
            };
            d.timing = timing;
            queue_ = std::make_unique<ProcessingQueue>(std::move(d));
            queue_
                ->setHooks({.pushSnapshotsToAppState =
                                [this](SnapshotPush push) {
                                    std::lock_guard lock(mutex_);
                                    ++(push == SnapshotPush::forced ? forcedPushes_ : pushes_);
                                    pushed_.notify_all();
                                },
                            .notifyCompletion =
                                [this](const fs::path& dir) {
                                    std::lock_guard lock(mutex_);
                                    notified_.push_back(dir.filename().string());
                                }})
                .get();
        }
        return *queue_;
    }

    // An empty working folder: the sessions of a test live beside it and are enqueued by hand.
    void start() { queue().start(base_).get(); }

    fs::path session(const std::string& name, const std::function<void(SessionMetadata&)>& edit = {},
                     const fs::path& parent = {}) {
        const fs::path dir = (parent.empty() ? elsewhere_ : parent) / name;
        testing::makeSession(dir, clock_, edit);
        return dir;
    }

    template <class F> auto onQueue(F&& f) { return queue().executor().submit(std::forward<F>(f)).get(); }
    std::vector<fs::path> pending() {
        return onQueue([this] { return queue_->pendingDirs(); });
    }
    std::vector<fs::path> running() {
        return onQueue([this] { return queue_->runningDirs(); });
    }
    void sync() {
        onQueue([] {});
    }
    bool waitForForcedPushes(int count) {
        return testing::waitUntil(mutex_, pushed_, [&] { return forcedPushes_ >= count; });
    }
    std::int64_t publishedCount() {
        main_.runPending();
        return appState_.processingSessionCount();
    }

    testing::TempDir dir_;
    fs::path base_ = dir_ / "WorkingSessions";
    fs::path elsewhere_ = dir_ / "Elsewhere";
    platform::ManualClock clock_;
    platform::TimerScheduler timers_{clock_};
    platform::MainDispatcher main_;
    platform::SettingsStore settings_{dir_ / "settings.json"};
    platform::ThreadPool pool_{4};
    AppState appState_{AppState::Dependencies{
        .settings = &settings_, .clock = &clock_, .mainDispatcher = &main_, .metadataExecutor = &pool_}};
    CountingExecutor utility_{pool_};
    CountingExecutor background_{pool_};
    testing::FakePowerStatus power_;
    std::atomic<platform::Clock::Duration> uptime_{std::chrono::hours{1}};
    std::chrono::milliseconds watcherDebounce_{
        std::chrono::hours{1}}; // no change scan unless a test wants one
    FakeSessionServices services_;
    testing::RecordingLock lock_{clock_};
    platform::LogCapture log_;
    std::mutex mutex_;
    std::condition_variable pushed_;
    int pushes_ = 0;
    int forcedPushes_ = 0;
    std::vector<std::string> notified_;
    std::vector<fs::path> clearedChunks_;
    std::unique_ptr<ProcessingQueue> queue_;
};

TEST_F(ProcessingQueueTest, PushesSnapshotsOnRequestForcedOrThrottled) {
    queue().pushSnapshotsToAppState(SnapshotPush::forced).get();
    queue().pushSnapshotsToAppState(SnapshotPush::throttled).get();
    std::lock_guard lock(mutex_);
    EXPECT_EQ(forcedPushes_, 1);
    EXPECT_EQ(pushes_, 1);
}

TEST_F(ProcessingQueueTest, PausePutsTheRunningSessionBackInFrontAndStartsNothingUntilResumed) {
    const auto a = session("A"), b = session("B"), c = session("C");
    services_.script("transcribe:A", {true, true, std::nullopt, std::nullopt});
    start();
    for (const auto& dir : {a, b, c})
        queue().enqueue(dir);
    ASSERT_TRUE(services_.waitForCalls("transcribe:A"));
    EXPECT_EQ(pending(), (std::vector<fs::path>{b, c}));
    EXPECT_EQ(publishedCount(), 1);

    queue().pause().get();
    EXPECT_EQ(pending(), (std::vector<fs::path>{a, b, c}));
    EXPECT_TRUE(running().empty());
    EXPECT_EQ(publishedCount(), 0);
    EXPECT_TRUE(log_.contains("ProcessingQueue paused, cancelling 1 running tasks"));

    ASSERT_TRUE(waitForForcedPushes(1)) << "the cancelled task has ended";
    queue().pause().get();
    queue().enqueue(a).get();
    EXPECT_EQ(pending(), (std::vector<fs::path>{a, b, c})) << "no second entry, nothing started";
    EXPECT_EQ(testing::readSession(a).steps.transcription, StepState::fresh(StepStatus::pending));
    EXPECT_EQ(testing::countLogs(log_, "ProcessingQueue paused"), 1);

    services_.script("transcribe:A", {});
    queue().resume().get();
    ASSERT_TRUE(services_.waitForCalls("transcribe:A", 2));
    ASSERT_TRUE(services_.waitForEnd("summary:C"));
    EXPECT_EQ(services_.maxBusy(), 1);
}

TEST_F(ProcessingQueueTest, ProcessesOneSessionAtATimeUnderConcurrentEnqueues) {
    constexpr int kSessions = 6;
    std::vector<fs::path> dirs;
    for (int i = 0; i < kSessions; ++i) {
        dirs.push_back(session("S" + std::to_string(i)));
        services_.script("transcribe:S" + std::to_string(i), {true, true, std::nullopt, std::nullopt});
    }
    start();
    std::latch go(kSessions);
    std::vector<std::thread> callers;
    for (const auto& dir : dirs) {
        callers.emplace_back([&, dir] {
            go.arrive_and_wait();
            queue().enqueue(dir);
            queue().enqueue(dir); // twice: still one run
        });
    }
    for (auto& caller : callers)
        caller.join();

    std::set<std::string> started;
    for (int n = 1; n <= kSessions; ++n) {
        ASSERT_TRUE(
            testing::eventually([&] { return services_.allCalls().size() >= std::size_t(2 * n - 1); }));
        const std::string call = services_.allCalls().back();
        ASSERT_TRUE(call.starts_with("transcribe:")) << call;
        EXPECT_TRUE(started.insert(call).second) << "started once: " << call;
        EXPECT_EQ(running().size(), 1u);
        EXPECT_EQ(services_.busy(), 1);
        services_.release(call);
        ASSERT_TRUE(services_.waitForEnd("summary:" + call.substr(call.find(':') + 1)));
    }
    EXPECT_EQ(services_.maxBusy(), 1);
    EXPECT_EQ(started.size(), std::size_t(kSessions));
    ASSERT_TRUE(testing::eventually([&] { return running().empty(); }));
    std::lock_guard lock(mutex_);
    EXPECT_EQ(notified_.size(), std::size_t(kSessions)) << "one completion per session";
}

// A cancelled run whose back-end does not stop at once still holds its session: nothing starts,
// not even the same folder again, until it has ended.
TEST_F(ProcessingQueueTest, ARunStillWindingDownNeverLetsASecondSessionStart) {
    const auto a = session("A"), b = session("B");
    services_.script("transcribe:A", {true, false, std::nullopt, std::nullopt});
    start();
    queue().enqueue(a);
    queue().enqueue(b);
    ASSERT_TRUE(services_.waitForCalls("transcribe:A"));
    queue().pause();
    queue().resume().get();
    EXPECT_TRUE(running().empty()) << "the paused run is still winding down";
    EXPECT_EQ(pending(), (std::vector<fs::path>{a, b}));
    const auto attempts = lock_.attempts("A");
    EXPECT_EQ(
        std::count_if(attempts.begin(), attempts.end(), [](const auto& at) { return at.step == "start"; }), 1)
        << "no second run of A waits for the lock";

    services_.release("transcribe:A");
    ASSERT_TRUE(services_.waitForEnd("summary:B"));
    EXPECT_EQ(services_.calls("transcribe:A"), 1) << "the old run finished the transcription";
    EXPECT_EQ(services_.calls("summary:A"), 1);
    EXPECT_EQ(services_.maxBusy(), 1);
}

TEST_F(ProcessingQueueTest, AStoppedRunStillWindingDownBlocksTheNextStart) {
    const auto a = session("A"), b = session("B");
    services_.script("transcribe:A", {true, false, std::nullopt, std::nullopt});
    start();
    queue().enqueue(a);
    ASSERT_TRUE(services_.waitForCalls("transcribe:A"));
    auto stopped = queue().stopProcessing(a);
    queue().enqueue(b).get();
    EXPECT_TRUE(running().empty());
    EXPECT_EQ(pending(), (std::vector<fs::path>{b}));
    EXPECT_EQ(services_.calls("transcribe:B"), 0);

    services_.release("transcribe:A");
    stopped.get();
    ASSERT_TRUE(services_.waitForEnd("summary:B"));
    EXPECT_EQ(services_.maxBusy(), 1);
    EXPECT_TRUE(testing::readSession(a).manuallyStopped);
}

// The paused run gives up its lock wait only after the folder was queued again; its give-up must
// not queue the folder a second time.
TEST_F(ProcessingQueueTest, ALockWaitGivenUpAfterPauseLeavesTheFolderPendingOrRunningNotBoth) {
    const auto a = session("A");
    ASSERT_TRUE(SessionLock::acquire(a, "elsewhere", clock_));
    lock_.hold("A");
    start();
    queue().enqueue(a);
    ASSERT_TRUE(lock_.waitForHeldAttempts(1));
    queue().pause();
    queue().resume().get();
    lock_.letGo();
    ASSERT_TRUE(waitForForcedPushes(1)) << "the paused run has ended";
    const auto pendingNow = pending();
    const auto runningNow = running();
    EXPECT_EQ(runningNow, (std::vector<fs::path>{a}));
    EXPECT_TRUE(pendingNow.empty()) << "pending and running at once";
    SessionLock::release(a);
    clock_.advance(1s);
    ASSERT_TRUE(services_.waitForEnd("summary:A"));
}

TEST_F(ProcessingQueueTest, TheFolderBeingRecordedIsNeverStarted) {
    const auto recording = session("R"), other = session("O"), retried = session("S", [](SessionMetadata&m) {
                                                                   m.steps = {kDone, kDone, kDone};
                                                               });
    start();
    queue().pause();
    queue().setActiveRecordingFolder(recording);
    queue().enqueue(other);
    queue().retrySummaryOnly(recording).get();
    EXPECT_EQ(pending(), (std::vector<fs::path>{recording, other})) << "nothing started while paused";

    // A summary-only retry runs during the recording, and only for its own folder.
    queue().enqueue(retried);
    queue().retrySummaryOnly(retried).get();
    EXPECT_EQ(pending(), (std::vector<fs::path>{recording, other}));
    ASSERT_TRUE(services_.waitForEnd("summary:S"));
    ASSERT_TRUE(waitForForcedPushes(1));
    EXPECT_TRUE(running().empty()) << "its end started nothing more while paused";
    EXPECT_EQ(services_.allCalls(), (std::vector<std::string>{"summary:S"}));

    // Not paused either: the recording's folder waits, the next one starts.
    queue().resume().get();
    ASSERT_TRUE(services_.waitForEnd("summary:O"));
    EXPECT_EQ(pending(), (std::vector<fs::path>{recording}));
    queue().setActiveRecordingFolder(std::nullopt);
    queue().resume();
    queue().enqueue(session("next"));
    ASSERT_TRUE(services_.waitForEnd("summary:R"));
}

TEST_F(ProcessingQueueTest, ALockThatStaysTakenSendsTheFolderToTheBack) {
    const auto a = session("A"), b = session("B"), c = session("C");
    ASSERT_TRUE(SessionLock::acquire(a, "elsewhere", clock_));
    services_.script("transcribe:B", {true, true, std::nullopt, std::nullopt});
    start();
    queue().pause();
    for (const auto& dir : {a, b, c})
        queue().enqueue(dir);
    const auto t0 = clock_.now();
    queue().resume();
    for (std::size_t attempt = 1; attempt <= 3; ++attempt) {
        ASSERT_TRUE(lock_.waitForAttempts("A", attempt));
        clock_.advance(1s);
    }
    ASSERT_TRUE(services_.waitForCalls("transcribe:B"));
    EXPECT_EQ(pending(), (std::vector<fs::path>{c, a}));
    const auto attempts = lock_.attempts("A");
    for (std::size_t i = 0; i < attempts.size(); ++i)
        EXPECT_EQ(attempts[i].at - t0, std::chrono::seconds(i));
}

TEST_F(ProcessingQueueTest, ScansRetryAFailedStepAfterTheWaitAndNeverAtTheThirdFailure) {
    const auto failed = [](std::int64_t count, std::chrono::seconds ago, const platform::Clock& clock) {
        return [=, &clock](SessionMetadata& m) {
            m.steps = {kDone, kDone, kDone};
            m.steps.summary = {StepStatus::failed,
                               {},
                               std::chrono::floor<std::chrono::seconds>(clock.wallNow()) - ago,
                               "boom",
                               count};
        };
    };
    session("due-now", failed(2, 300s, clock_), base_);
    session("due-later", failed(2, 200s, clock_), base_);
    session("third-failure", failed(3, 100000s, clock_), base_);
    session(
        "diarization-failed",
        [](SessionMetadata& m) {
            m.steps = {kDone, {StepStatus::failed, {}, {}, "no speakers", 1}, kDone};
        },
        base_);
    const auto names = [this] {
        std::set<std::string> out;
        for (const auto& dir : pending())
            out.insert(dir.filename().string());
        return out;
    };
    queue().pause();
    start();
    EXPECT_EQ(names(), (std::set<std::string>{"due-now"}));

    clock_.advance(179s);
    sync();
    EXPECT_EQ(names(), (std::set<std::string>{"due-now"}));
    clock_.advance(1s); // the periodic scan: "due-later" failed 380 s ago
    sync();
    EXPECT_EQ(names(), (std::set<std::string>{"due-now", "due-later"}));
    clock_.advance(100000s);
    sync();
    EXPECT_EQ(names(), (std::set<std::string>{"due-now", "due-later"}));
}

TEST_F(ProcessingQueueTest, StartUpRepairsWhatAVanishedProcessLeftAndWaitsForTheUptime) {
    const auto transcribing = [](SessionMetadata& m) { m.steps.transcription.status = StepStatus::running; };
    const auto stale = session("stale", transcribing, base_);
    platform::writeFileAtomically(
        SessionLock::fileIn(stale),
        R"({"acquiredAt":"2024-01-01T00:00:00Z","pid":2147483647,"step":"transcription"})");
    const auto live = session("live", transcribing, base_);
    ASSERT_TRUE(SessionLock::acquire(live, "transcription", clock_));
    const auto hidden = session(".hidden", transcribing, base_);
    platform::writeFileAtomically(base_ / "notes.txt", "not a session");
    uptime_ = 30900ms;

    start();
    EXPECT_EQ(testing::readSession(stale).steps.transcription, StepState::fresh(StepStatus::pending));
    EXPECT_FALSE(fs::exists(SessionLock::fileIn(stale)));
    EXPECT_TRUE(log_.contains("orphaned running state reset on startup: stale"));
    EXPECT_EQ(testing::readSession(live).steps.transcription.status, StepStatus::running);
    EXPECT_TRUE(fs::exists(SessionLock::fileIn(live)));
    EXPECT_EQ(testing::readSession(hidden).steps.transcription.status, StepStatus::running);
    EXPECT_EQ(pending(), (std::vector<fs::path>{stale}));
    EXPECT_TRUE(log_.contains("startup delay 59s (uptime=30s) to allow GPU initialization"));

    clock_.advance(59s);
    sync();
    EXPECT_EQ(pending(), (std::vector<fs::path>{stale})) << "59.1 s to wait";
    clock_.advance(100ms);
    ASSERT_TRUE(services_.waitForEnd("summary:stale"));
}

TEST_F(ProcessingQueueTest, ABurstOfFolderEventsGivesOneChangeScanThatLeavesStoppedSessionsAlone) {
    watcherDebounce_ = 150ms;
    session(
        "stopped", [](SessionMetadata& m) { m.manuallyStopped = true; }, base_);
    queue().pause();
    start();
    EXPECT_TRUE(pending().empty());

    // Three recordings' folders appear at once (made beside it, moved in whole).
    const fs::path staging = dir_ / "staging";
    for (const char* name : {"N1", "N2", "N3"})
        session(name, {}, staging);
    for (const char* name : {"N1", "N2", "N3"})
        fs::rename(staging / name, base_ / name);
    ASSERT_TRUE(testing::eventually([&] { return pending().size() >= 3; }));
    std::set<std::string> names;
    for (const auto& dir : pending())
        names.insert(dir.filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"N1", "N2", "N3"}));

    // A fourth folder later on: the scans run one after another, so once it is pending every scan
    // the burst caused has run, and only its own came since.
    session("N4", {}, staging);
    fs::rename(staging / "N4", base_ / "N4");
    ASSERT_TRUE(testing::eventually([&] { return pending().size() == 4; }));
    EXPECT_EQ(testing::countLogs(log_, "working folder changed, scanning"), 2);
}

TEST_F(ProcessingQueueTest, StopCancelsAndMarksTheSessionSoScansLeaveItUntilARetry) {
    const auto a = session("A", {}, base_), b = session("B", {}, base_);
    services_.script("transcribe:A", {true, true, std::nullopt, std::nullopt});
    fs::create_directories(a / "audio");
    platform::writeFileAtomically(a / "audio" / "mic_0000.WAV", "");
    platform::writeFileAtomically(a / "audio" / "notes.txt", "");
    fs::create_directories(a / "intermediate");
    queue().pause();
    start();
    queue().removePending(a);
    queue().removePending(b);
    queue().resume();
    queue().enqueue(a);
    queue().enqueue(b);
    ASSERT_TRUE(services_.waitForCalls("transcribe:A"));

    queue().stopProcessing(b).get();
    EXPECT_EQ(running(), (std::vector<fs::path>{a})) << "a pending session is not affected";
    queue().stopProcessing(a).get();
    const auto meta = testing::readSession(a);
    EXPECT_EQ(meta.steps.transcription, StepState::fresh(StepStatus::pending));
    EXPECT_TRUE(meta.manuallyStopped);
    EXPECT_TRUE(waitForForcedPushes(1));
    ASSERT_TRUE(services_.waitForEnd("summary:B")) << "the next session started";
    ASSERT_TRUE(testing::eventually([&] { return running().empty(); }));

    queue().refreshPendingSessions(ScanScope::regular).get();
    EXPECT_TRUE(pending().empty()) << "full scans leave the stopped session alone";

    queue().pause();
    queue().retryFailed(a).get();
    EXPECT_EQ(pending(), (std::vector<fs::path>{a}));
    EXPECT_FALSE(testing::readSession(a).manuallyStopped);
    EXPECT_FALSE(fs::exists(a / "intermediate"));
    EXPECT_EQ(clearedChunks_, (std::vector<fs::path>{a / "audio" / "mic_0000.WAV"}));
}

// A run let go while it waits for a lock held elsewhere gives up at once; that must neither add a
// second pending entry (pause already put it back) nor start a stopped session again.
TEST_F(ProcessingQueueTest, ARunLetGoDuringItsLockWaitIsNotQueuedAgain) {
    const auto a = session("A");
    ASSERT_TRUE(SessionLock::acquire(a, "elsewhere", clock_));
    start();
    queue().enqueue(a);
    ASSERT_TRUE(lock_.waitForAttempts("A", 1));
    queue().pause().get();
    ASSERT_TRUE(waitForForcedPushes(1)) << "the cancelled run has ended";
    EXPECT_EQ(pending(), (std::vector<fs::path>{a}));

    queue().resume().get();
    ASSERT_TRUE(lock_.waitForAttempts("A", 2));
    queue().stopProcessing(a).get();
    EXPECT_TRUE(testing::readSession(a).manuallyStopped);
    EXPECT_TRUE(running().empty());
    EXPECT_TRUE(pending().empty());
    EXPECT_EQ(lock_.attempts("A").size(), 2u);
}

TEST_F(ProcessingQueueTest, RetriesLeaveRunningSessionsAloneAndNightlySessionsToTheNightlyRun) {
    const auto running = session("running"),
               nightly = session("nightly", [](SessionMetadata&m) {
                   m.config.system.nightlyBatch = true;
                   m.steps.transcription = {StepStatus::failed, {}, {}, "boom", 3};
               });
    services_.script("transcribe:running", {true, true, std::nullopt, std::nullopt});
    start();
    queue().enqueue(running);
    ASSERT_TRUE(services_.waitForCalls("transcribe:running"));
    const std::string before = platform::readFile(running / "session.json");
    queue().retryFailed(running);
    queue().retrySummaryOnly(running).get();
    EXPECT_EQ(platform::readFile(running / "session.json"), before);

    queue().enqueue(nightly).get();
    EXPECT_TRUE(pending().empty()) << "left to the nightly batch";
    queue().retryFailed(nightly).get();
    EXPECT_TRUE(pending().empty());
    EXPECT_EQ(testing::readSession(nightly).steps.transcription, StepState::fresh(StepStatus::pending));
    EXPECT_TRUE(log_.contains("retry deferred until nightly batch: nightly"));
}

TEST_F(ProcessingQueueTest, SnapshotRequestsCloserThanTheDebounceGiveOnePublication) {
    start();
    clock_.advance(1s);
    sync();
    const auto pushes = [this] {
        std::lock_guard lock(mutex_);
        return pushes_;
    };
    const int before = pushes();
    queue().removePending(elsewhere_ / "x").get();
    clock_.advance(100ms);
    queue().removePending(elsewhere_ / "y").get();
    clock_.advance(299ms);
    sync();
    EXPECT_EQ(pushes(), before);
    clock_.advance(1ms);
    sync();
    EXPECT_EQ(pushes(), before + 1);
}

TEST_F(ProcessingQueueTest, SavingPowerOrRunningHotMovesProcessingToTheBackgroundClass) {
    const struct {
        bool lowPower;
        platform::ThermalState thermal;
        bool background;
    } cases[] = {
        {false, platform::ThermalState::nominal, false}, {false, platform::ThermalState::fair, false},
        {false, platform::ThermalState::serious, true},  {false, platform::ThermalState::critical, true},
        {true, platform::ThermalState::nominal, true},
    };
    start();
    int n = 0;
    for (const auto& c : cases) {
        power_.lowPower = c.lowPower;
        power_.thermal = c.thermal;
        const int utility = utility_.posted, background = background_.posted;
        const std::string name = "P" + std::to_string(n++);
        queue().enqueue(session(name));
        ASSERT_TRUE(services_.waitForEnd("summary:" + name));
        EXPECT_EQ(background_.posted - background, c.background ? 1 : 0) << name;
        EXPECT_EQ(utility_.posted - utility, c.background ? 0 : 1) << name;
    }
}

} // namespace
} // namespace velnote
