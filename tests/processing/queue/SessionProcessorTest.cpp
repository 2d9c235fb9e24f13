#include "processing/queue/SessionProcessor.h"

#include "platform/concurrency/ManualClock.h"
#include "session/folder/SessionLock.h"
#include "support/QueueTestSupport.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <thread>

namespace velnote {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::FakeSessionServices;

class SessionProcessorTest : public ::testing::Test {
  protected:
    SessionProcessor::Callbacks callbacks() {
        const auto record = [this](std::string event) {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(event));
        };
        return {[record] { record("snapshots"); },
                [record](const fs::path& dir) { record("notify:" + dir.filename().string()); },
                [record](const fs::path& path) { record("summaryWritten:" + path.filename().string()); }};
    }
    // Runs the processor and records a lock wait given up as "givenUp:<folder>".
    void process(const fs::path& dir, std::stop_token stop = {}) {
        if (!processor_.process(dir, std::move(stop))) {
            std::lock_guard lock(mutex_);
            events_.push_back("givenUp:" + dir.filename().string());
        }
    }
    std::vector<std::string> events() {
        std::lock_guard lock(mutex_);
        return events_;
    }
    fs::path session(const std::string& name, const std::function<void(SessionMetadata&)>& edit = {}) {
        const fs::path dir = dir_ / name;
        testing::makeSession(dir, clock_, edit);
        return dir;
    }
    std::chrono::sys_seconds now() const {
        return std::chrono::floor<std::chrono::seconds>(clock_.wallNow());
    }

    testing::TempDir dir_;
    platform::ManualClock clock_;
    FakeSessionServices services_;
    testing::RecordingLock lock_{clock_};
    platform::LogCapture log_;
    std::mutex mutex_;
    std::vector<std::string> events_;
    SessionProcessor processor_{
        {&clock_, services_.transcribeFunction(), services_.summaryService(), lock_.function(), 1s},
        callbacks()};
};

TEST_F(SessionProcessorTest, RunsOnlyTheStepsTheFileStillAsksFor) {
    const StepState done{.status = StepStatus::done};
    const struct {
        const char* name;
        std::function<void(SessionMetadata&)> edit;
        FakeSessionServices::Script transcription;
        std::vector<std::string> calls;
        std::function<void(const SessionMetadata&)> check;
    } cases[] = {
        {"all-pending",
         [](SessionMetadata& m) {
             m.config.transcription.diarizationEnabled = true;
             m.steps.diarization = StepState::fresh(StepStatus::pending);
         },
         {},
         {"transcribe:all-pending", "summary:all-pending"},
         [&](const SessionMetadata& m) {
             EXPECT_EQ(m.steps.transcription.status, StepStatus::done);
             EXPECT_EQ(m.steps.transcription.startedAt, now());
             EXPECT_EQ(m.steps.transcription.completedAt, now());
             EXPECT_EQ(m.steps.diarization, (StepState{.status = StepStatus::done, .completedAt = now()}));
             EXPECT_EQ(m.steps.summary.status, StepStatus::done);
         }},
        {"summary-retry",
         [&](SessionMetadata& m) {
             m.steps.transcription = done;
             m.steps.diarization = done;
             m.steps.summary = {StepStatus::failed, {}, {}, "old error", 1};
         },
         {},
         {"summary:summary-retry"},
         [&](const SessionMetadata& m) {
             EXPECT_EQ(m.steps.transcription, done);
             EXPECT_EQ(m.steps.summary, (StepState{.status = StepStatus::done,
                                                   .startedAt = now(),
                                                   .completedAt = now(),
                                                   .error = "old error",
                                                   .retryCount = 1}))
                 << "success keeps the old error text and count";
         }},
        {"all-done",
         [&](SessionMetadata& m) {
             m.steps = {done, done, done};
         },
         {},
         {},
         [&](const SessionMetadata& m) {
             EXPECT_EQ(m.steps, (SessionSteps{.transcription = done, .diarization = done, .summary = done}));
         }},
        {"no-diarization",
         [](SessionMetadata& m) {
             m.config.transcription.diarizationEnabled = false;
             m.steps.diarization = StepState::fresh(StepStatus::pending);
         },
         {},
         {"transcribe:no-diarization", "summary:no-diarization"},
         [&](const SessionMetadata& m) {
             EXPECT_EQ(m.steps.diarization, (StepState{.status = StepStatus::skipped, .completedAt = now()}));
         }},
        // The back-end fell back to lines without speakers: not "done".
        {"diarization-fallback",
         [](SessionMetadata& m) {
             m.config.transcription.diarizationEnabled = true;
             m.steps.diarization = StepState::fresh(StepStatus::pending);
         },
         {false, true, std::nullopt, "speaker model missing"},
         {"transcribe:diarization-fallback", "summary:diarization-fallback"},
         [&](const SessionMetadata& m) {
             EXPECT_EQ(m.steps.transcription.status, StepStatus::done);
             EXPECT_EQ(m.steps.diarization, (StepState{.status = StepStatus::failed,
                                                       .completedAt = now(),
                                                       .error = "speaker model missing",
                                                       .retryCount = 1}));
             EXPECT_EQ(m.steps.summary.status, StepStatus::done);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = session(c.name, c.edit);
        fs::create_directories(dir / "intermediate");
        services_.script(std::string("transcribe:") + c.name, c.transcription);
        process(dir, {});

        std::vector<std::string> calls;
        for (const auto& call : services_.allCalls())
            if (call.ends_with(c.name))
                calls.push_back(call);
        EXPECT_EQ(calls, c.calls);
        c.check(testing::readSession(dir));
        EXPECT_FALSE(fs::exists(SessionLock::fileIn(dir))) << "released";
        EXPECT_EQ(fs::exists(dir / "intermediate"),
                  c.calls.empty() || c.calls.back().rfind("summary", 0) != 0)
            << "a summary run starts without the old notes";
        EXPECT_TRUE(log_.contains(std::string("processing done: ") + c.name));
        const auto all = events();
        EXPECT_NE(std::find(all.begin(), all.end(), std::string("notify:") + c.name), all.end());
    }
    EXPECT_EQ(services_.summaryInputs().front(), dir_ / "all-pending" / "transcript.txt");
    EXPECT_EQ(services_.summaryInputs()[1], dir_ / "summary-retry" / "transcript.txt");
    const auto request = services_.requests().front();
    EXPECT_EQ(request.sessionDir, dir_ / "all-pending");
    EXPECT_TRUE(request.diarizationEnabled);
}

TEST_F(SessionProcessorTest, AFailedStepKeepsItsErrorTextAndCountsOneMoreRetry) {
    const fs::path dir = session("failing", [](SessionMetadata& m) {
        m.steps.transcription = {StepStatus::failed, {}, {}, "before", 2};
    });
    services_.script("transcribe:failing", {false, true, "network down", std::nullopt});
    process(dir, {});

    const auto meta = testing::readSession(dir);
    EXPECT_EQ(meta.steps.transcription, (StepState{.status = StepStatus::failed,
                                                   .startedAt = now(),
                                                   .completedAt = now(),
                                                   .error = "network down",
                                                   .retryCount = 3}));
    EXPECT_EQ(meta.steps.summary.status, StepStatus::pending) << "the summary never ran";
    EXPECT_EQ(services_.calls("summary:failing"), 0);
    EXPECT_TRUE(log_.contains("processing failed: failing error=network down"));
    EXPECT_EQ(events(), (std::vector<std::string>{"snapshots", "notify:failing"}));
    EXPECT_FALSE(fs::exists(SessionLock::fileIn(dir)));

    // Unreadable metadata is a failure of the run too: lock released, completion reported.
    const fs::path broken = dir_ / "broken";
    fs::create_directories(broken);
    platform::writeFileAtomically(broken / "session.json", "{");
    process(broken, {});
    EXPECT_EQ(events().back(), "notify:broken");
    EXPECT_FALSE(fs::exists(SessionLock::fileIn(broken)));
}

TEST_F(SessionProcessorTest, TriesTheStartLockThreeTimesOneSecondApartThenGivesUp) {
    const fs::path dir = session("busy");
    const std::string before = platform::readFile(dir / "session.json");
    ASSERT_TRUE(SessionLock::acquire(dir, "elsewhere", clock_)); // another holder
    const auto t0 = clock_.now();

    std::thread run([&] { process(dir, {}); });
    for (std::size_t attempt = 1; attempt <= 3; ++attempt) {
        ASSERT_TRUE(lock_.waitForAttempts("busy", attempt));
        clock_.advance(attempt < 3 ? 1s : 999ms);
    }
    EXPECT_TRUE(events().empty()) << "the pause after the third attempt is still running";
    clock_.advance(1ms);
    run.join();

    const auto attempts = lock_.attempts("busy");
    ASSERT_EQ(attempts.size(), 3u);
    for (std::size_t i = 0; i < attempts.size(); ++i) {
        EXPECT_EQ(attempts[i].at - t0, std::chrono::seconds(i));
        EXPECT_EQ(attempts[i].step, "start");
        EXPECT_FALSE(attempts[i].taken);
    }
    EXPECT_EQ(events(), (std::vector<std::string>{"givenUp:busy"}));
    EXPECT_TRUE(log_.contains("lock acquire failed after retries (race), skip: busy"));
    EXPECT_EQ(platform::readFile(dir / "session.json"), before) << "nothing written";
    EXPECT_TRUE(fs::exists(SessionLock::fileIn(dir))) << "the other holder's lock stays";

    // Freed before the third attempt: that attempt takes it and the session is processed.
    std::thread second([&] { process(dir, {}); });
    ASSERT_TRUE(lock_.waitForAttempts("busy", 4));
    clock_.advance(1s);
    ASSERT_TRUE(lock_.waitForAttempts("busy", 5));
    SessionLock::release(dir);
    clock_.advance(1s);
    second.join();
    EXPECT_TRUE(lock_.attempts("busy")[5].taken);
    EXPECT_EQ(testing::readSession(dir).steps.summary.status, StepStatus::done);
}

TEST_F(SessionProcessorTest, CancellationResetsInterruptedStepsWithoutANotification) {
    const fs::path dir = session("paused", [](SessionMetadata& m) {
        m.steps.summary = {StepStatus::failed, {}, {}, "earlier", 2};
    });
    services_.script("transcribe:paused", {true, true, std::nullopt, std::nullopt});
    std::stop_source stop;
    std::thread run([&] { process(dir, stop.get_token()); });
    ASSERT_TRUE(services_.waitForCalls("transcribe:paused"));
    EXPECT_EQ(testing::readSession(dir).steps.transcription.status, StepStatus::running);
    stop.request_stop();
    run.join();

    const auto meta = testing::readSession(dir);
    EXPECT_EQ(meta.steps.transcription, StepState::fresh(StepStatus::pending));
    EXPECT_EQ(meta.steps.summary, StepState::fresh(StepStatus::pending));
    EXPECT_TRUE(log_.contains("processing cancelled, will retry: paused"));
    EXPECT_EQ(events(), (std::vector<std::string>{"snapshots"}));
    EXPECT_FALSE(fs::exists(SessionLock::fileIn(dir)));

    // Cancelled while waiting between lock attempts: gives up at once, without the clock moving.
    ASSERT_TRUE(SessionLock::acquire(dir, "elsewhere", clock_));
    std::stop_source stopWaiting;
    std::thread waiting([&] { process(dir, stopWaiting.get_token()); });
    ASSERT_TRUE(lock_.waitForAttempts("paused", 2)); // the first run's attempt and this one
    stopWaiting.request_stop();
    waiting.join();
    EXPECT_EQ(events().back(), "givenUp:paused");
}

TEST_F(SessionProcessorTest, ALockLostBetweenStepsAbandonsTheRunAsItStands) {
    const fs::path dir = session("stolen");
    lock_.refuse("transcription");
    process(dir, {});
    EXPECT_TRUE(log_.contains("lock lost during processing, aborting: stolen"));
    EXPECT_EQ(testing::readSession(dir).steps.transcription.status, StepStatus::running);
    EXPECT_EQ(services_.calls("transcribe:stolen"), 0);
    EXPECT_TRUE(events().empty()) << "no snapshot, no notification";
}

} // namespace
} // namespace velnote
