#include "processing/sessions/CompletionNotifier.h"

#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/ManualClock.h"
#include "session/l10n/L10n.h"
#include "support/SessionFolderFixture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

namespace fs = std::filesystem;
using testing::writeSession;
using testing::writeText;

class RecordingCenter final : public platform::NotificationCenter {
  public:
    void setCategories(std::vector<platform::NotificationCategory>) override {}
    void setResponseHandler(ResponseHandler) override {}
    void add(const platform::NotificationRequest& request) override {
        if (refusing)
            throw platform::NotificationError("refused");
        requests.push_back(request);
    }
    std::vector<platform::NotificationRequest> requests;
    bool refusing = false;
};

const std::string kName = "2025-01-31T09-15-00Z";

class CompletionNotifierTest : public ::testing::Test {
  protected:
    CompletionNotifierTest() {
        CompletionNotifier::Dependencies deps;
        deps.center = &center;
        deps.clock = &clock;
        deps.mainDispatcher = &main;
        deps.setLastTranscriptPath = [this](std::optional<fs::path> p) { lastTranscript = std::move(p); };
        notifier.emplace(deps);
    }

    fs::path session(StepState transcription, StepState summary, bool withFiles = true) {
        writeSession(dir, 0, [&](SessionMetadata& m) {
            m.steps.transcription = transcription;
            m.steps.summary = summary;
        });
        if (withFiles) {
            writeText(dir / "transcript.txt", "t");
            writeText(dir / "summary.md", "s");
        }
        return dir;
    }

    static StepState failed(std::optional<std::string> error) {
        auto s = StepState::fresh(StepStatus::failed);
        s.error = std::move(error);
        return s;
    }

    testing::TempDir temp;
    fs::path dir = temp / kName;
    RecordingCenter center;
    platform::ManualClock clock;
    platform::MainDispatcher main;
    std::optional<std::optional<fs::path>> lastTranscript; // outer: whether it was set at all
    std::optional<CompletionNotifier> notifier;
};

TEST_F(CompletionNotifierTest, TextsForSuccessAndFailure) {
    const auto done = StepState::fresh(StepStatus::done);
    const auto pending = StepState::fresh(StepStatus::pending);
    const auto t = L10n::localized("L10n.Processing.transcription", "Transcription");
    const auto s = L10n::localized("L10n.Processing.summary", "Summary");
    const auto sep = L10n::localized("L10n.Processing.stepSeparator", ", ");
    const auto completed =
        L10n::localized("L10n.Notifications.processingCompletedTitle", "Velnote: Completed");
    const auto failedTitle = L10n::localized("L10n.Notifications.processingFailedTitle", "Velnote: Failed");
    struct Case {
        StepState transcription, summary;
        std::string title, body;
        bool hasError;
        std::optional<fs::path> lastTranscript;
    } cases[] = {
        {done, done, completed, kName + " " + t + sep + s + " completed. Click to open summary.", false,
         dir / "transcript.txt"},
        {done, failed("E"), failedTitle, kName + " " + s + " failed. E", true, dir / "transcript.txt"},
        {failed(std::nullopt), pending, failedTitle, kName + " processing failed.", true, std::nullopt},
        {failed(std::nullopt), failed("late"), failedTitle, kName + " " + t + sep + s + " failed. late", true,
         std::nullopt},
    };
    EXPECT_EQ(completed, "Hushtape: Completed");
    for (const auto& c : cases) {
        fs::remove_all(dir);
        center.requests.clear();
        session(c.transcription, c.summary);
        notifier->notifyCompletion(dir);
        main.runPending();

        ASSERT_EQ(center.requests.size(), 1u) << c.body;
        const auto& r = center.requests[0];
        EXPECT_EQ(r.identifier, "velnote.completion." + kName);
        EXPECT_EQ(r.title, c.title);
        EXPECT_EQ(r.body, c.body);
        EXPECT_EQ(r.categoryIdentifier, "VelnoteCompletionNotification");
        EXPECT_TRUE(r.playsDefaultSound);
        const platform::NotificationUserInfo info{{"sessionDir", dir.string()}, {"hasError", c.hasError}};
        EXPECT_EQ(r.userInfo, info);
        EXPECT_EQ(lastTranscript, std::optional<std::optional<fs::path>>(c.lastTranscript));
    }
}

TEST_F(CompletionNotifierTest, PostedOncePerSession) {
    session(StepState::fresh(StepStatus::done), StepState::fresh(StepStatus::done));
    clock.advance(std::chrono::hours(1));
    notifier->notifyCompletion(dir);
    notifier->notifyCompletion(dir);
    EXPECT_EQ(center.requests.size(), 1u);
    EXPECT_EQ(SessionMetadataStore::read(dir).completionNotificationSentAt,
              std::chrono::floor<std::chrono::seconds>(clock.wallNow()));
}

TEST_F(CompletionNotifierTest, NothingToReportOrRefusedLeavesTheSessionUnmarked) {
    session(StepState::fresh(StepStatus::done), StepState::fresh(StepStatus::pending), false);
    notifier->notifyCompletion(dir); // transcript missing, summary pending
    main.runPending();
    EXPECT_TRUE(center.requests.empty());
    EXPECT_FALSE(lastTranscript.has_value());

    writeText(dir / "transcript.txt", "t");
    center.refusing = true;
    notifier->notifyCompletion(dir);
    EXPECT_FALSE(SessionMetadataStore::read(dir).completionNotificationSentAt.has_value());
    center.refusing = false;
    notifier->notifyCompletion(dir); // a later run may notify
    EXPECT_EQ(center.requests.size(), 1u);
}

} // namespace
} // namespace velnote
