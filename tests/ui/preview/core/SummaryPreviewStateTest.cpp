#include "ui/preview/core/SummaryPreviewState.h"

#include "app/state/support/AppStateFixture.h"
#include "platform/concurrency/SerialExecutor.h"
#include "platform/concurrency/TimerScheduler.h"
#include "platform/fs/Files.h"
#include "session/folder/SessionLock.h"
#include "session/folder/SessionMetadataStore.h"
#include "session/folder/SummaryVersionStore.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

class FakeQueue final : public ResummarizeQueue {
  public:
    std::future<void> retrySummaryOnly(const fs::path& sessionDir) override {
        retried.push_back(sessionDir);
        return ready();
    }
    std::future<void> pushSnapshotsForced() override {
        ++pushes;
        return ready();
    }
    std::vector<fs::path> retried;
    int pushes = 0;

  private:
    static std::future<void> ready() {
        std::promise<void> done;
        done.set_value();
        return done.get_future();
    }
};

class RecordingAlerts final : public ErrorAlertPresenter {
  public:
    void showCriticalAlert(const Alert& alert, std::function<void()> dismissed) override {
        messages.push_back(alert.message);
        dismissed();
    }
    std::vector<std::string> messages;
};

class SummaryPreviewStateTest : public testing::AppStateFixture {
  protected:
    void SetUp() override {
        session_ = dir_ / "2025-01-31T09-15-00Z";
        fs::create_directories(session_ / "summary_versions");
        SessionMetadata metadata;
        metadata.config.summary.provider = "openai";
        metadata.config.summary.providerModel = "gpt-4.1";
        metadata.steps.summary = StepState::fresh(StepStatus::done);
        SessionMetadataStore::write(metadata, session_);
        platform::writeFileAtomically(session_ / "summary.md", "# Latest");
        platform::writeFileAtomically(session_ / "summary_versions" / "2025-01-30T08-00-00Z.md", "# Old");
        snapshot_.id = session_;
        snapshot_.dirName = session_.filename().string();
        state().setErrorAlertPresenter(alerts_);
    }

    std::unique_ptr<SummaryPreviewState> makeModel(std::optional<SummaryVersion> initial = std::nullopt) {
        auto model = std::make_unique<SummaryPreviewState>(
            snapshot_, std::move(initial),
            SummaryPreviewState::Dependencies{
                .appState = &state(),
                .main = &main_,
                .files = &files_,
                .waiting = &files_,
                .timers = &timers_,
                .defaults = UserDefaults(settings_),
                .queue = queue_,
                .closeSummaryWindow = [this](const fs::path& file) { closed_.push_back(file); },
                .showSessionMonitor = [this] { ++monitorShown_; },
            });
        return model;
    }

    void startAndLoad(SummaryPreviewState& model) {
        model.start();
        ASSERT_TRUE(main_.runUntil([&] { return !model.isLoadingFile(); }, std::chrono::seconds(5)));
    }

    // Moves the clock past the save delay and waits until the write has come back.
    void passSaveDelay(SummaryPreviewState& model) {
        clock_.advance(SummaryPreviewState::kSaveDelay);
        ASSERT_TRUE(main_.runUntil([&] { return !model.isSaving(); }, std::chrono::seconds(5)));
    }

    std::string summaryText() const { return platform::readFile(session_ / "summary.md"); }

    fs::path session_;
    SessionStatusSnapshot snapshot_;
    platform::TimerScheduler timers_{clock_};
    std::shared_ptr<FakeQueue> queue_ = std::make_shared<FakeQueue>();
    std::shared_ptr<RecordingAlerts> alerts_ = std::make_shared<RecordingAlerts>();
    std::vector<fs::path> closed_;
    int monitorShown_ = 0;
    // Last: drains before the members its jobs use.
    platform::SerialExecutor files_;
};

TEST_F(SummaryPreviewStateTest, OpensTheNewestVersionEditableAndPresetsThePanel) {
    auto model = makeModel();
    EXPECT_TRUE(model->isLoadingFile());
    startAndLoad(*model);
    ASSERT_EQ(model->versions().size(), 2u);
    EXPECT_EQ(model->markdownSource(), "# Latest");
    ASSERT_TRUE(model->currentVersion());
    EXPECT_TRUE(model->currentVersion()->isLatest);
    EXPECT_FALSE(model->isReadOnly());
    EXPECT_EQ(model->selections().selectedProvider, "openai");
    EXPECT_EQ(model->selections().selectedProviderModel, "gpt-4.1");
}

TEST_F(SummaryPreviewStateTest, ArchivedVersionsAndClosedSessionsAreReadOnly) {
    auto model = makeModel();
    startAndLoad(*model);
    model->toggleResummarizePanel();
    EXPECT_TRUE(model->isResummarizePanelShown());

    model->selectVersion(model->versions()[1]);
    EXPECT_TRUE(model->isReadOnly());
    EXPECT_FALSE(model->isResummarizePanelShown()); // hidden, though still asked for
    ASSERT_TRUE(main_.runUntil([&] { return model->markdownSource() == "# Old"; }, std::chrono::seconds(5)));

    snapshot_.isClosed = true;
    auto closed = makeModel();
    startAndLoad(*closed);
    EXPECT_TRUE(closed->currentVersion()->isLatest);
    EXPECT_TRUE(closed->isReadOnly());
}

TEST_F(SummaryPreviewStateTest, WithoutVersionsReadsSummaryFileAndShowsLatestWord) {
    fs::remove_all(session_ / "summary_versions");
    fs::remove(session_ / "summary.md");
    auto model = makeModel();
    startAndLoad(*model);
    EXPECT_FALSE(model->currentVersion());
    EXPECT_EQ(model->markdownSource(), ""); // a missing file shows as empty text
    EXPECT_EQ(model->currentVersionLabel(), "最新");
    EXPECT_FALSE(model->isReadOnly());
}

// An empty editor over a file that could not be read must not let an edit replace that file.
TEST_F(SummaryPreviewStateTest, ASummaryThatCannotBeReadIsShownEmptyAndReadOnly) {
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"not UTF-8",
         [&] { platform::writeFileAtomically(session_ / "summary.md", "# Notes \xFF\xFE kept"); }},
        {"a folder in its place",
         [&] {
             fs::remove(session_ / "summary.md");
             fs::create_directory(session_ / "summary.md");
         }},
    };
    for (const auto& [name, spoil] : cases) {
        SCOPED_TRACE(name);
        spoil();
        const std::string before = platform::readFileIfPresent(session_ / "summary.md").value_or("");
        auto model = makeModel();
        startAndLoad(*model);
        EXPECT_EQ(model->markdownSource(), "");
        EXPECT_TRUE(model->isReadOnly());
        model->editSource("# Typed over it");
        model->disappear();
        model.reset();
        files_.submit([] {}).wait();
        EXPECT_EQ(platform::readFileIfPresent(session_ / "summary.md").value_or(""), before);
    }
}

TEST_F(SummaryPreviewStateTest, ABurstOfEditsIsWrittenOnceAfterTheLastOne) {
    auto model = makeModel();
    startAndLoad(*model);
    model->editSource("# A");
    clock_.advance(milliseconds(300));
    main_.runPending();
    model->editSource("# AB");
    EXPECT_TRUE(model->isSaving());
    clock_.advance(milliseconds(300));
    main_.runPending();
    EXPECT_EQ(summaryText(), "# Latest"); // 0.3 s after the last edit: not yet
    passSaveDelay(*model);
    EXPECT_EQ(summaryText(), "# AB");
}

TEST_F(SummaryPreviewStateTest, SwitchingToAnArchivedVersionStillSavesTheEdit) {
    auto model = makeModel();
    startAndLoad(*model);
    model->editSource("# Edited");
    model->selectVersion(model->versions()[1]);
    passSaveDelay(*model);
    EXPECT_EQ(summaryText(), "# Edited");
    EXPECT_EQ(platform::readFile(session_ / "summary_versions" / "2025-01-30T08-00-00Z.md"), "# Old");
}

// Going back to the latest version before its save had run used to show the text without the
// edit, and the next keystroke would have saved over it.
TEST_F(SummaryPreviewStateTest, ReturningToTheLatestBeforeTheSaveShowsTheEdit) {
    auto model = makeModel();
    startAndLoad(*model);
    model->editSource("# Edited");
    model->selectVersion(model->versions()[1]);
    ASSERT_TRUE(main_.runUntil([&] { return !model->isLoadingFile(); }, std::chrono::seconds(5)));
    model->selectVersion(model->versions()[0]);
    ASSERT_TRUE(main_.runUntil([&] { return !model->isLoadingFile(); }, std::chrono::seconds(5)));
    EXPECT_EQ(model->markdownSource(), "# Edited");
    EXPECT_EQ(summaryText(), "# Edited");
}

// Closing the window right after typing used to drop the edit.
TEST_F(SummaryPreviewStateTest, ClosingWithinTheSaveDelayKeepsTheEdit) {
    auto model = makeModel();
    startAndLoad(*model);
    model->editSource("# Typed just before closing");
    model->disappear();
    model.reset();
    files_.submit([] {}).wait();
    EXPECT_EQ(summaryText(), "# Typed just before closing");
}

TEST_F(SummaryPreviewStateTest, AnEditThatCannotBeSavedIsReportedAndStaysInTheWindow) {
    auto model = makeModel();
    startAndLoad(*model);
    fs::remove_all(session_); // the session was deleted meanwhile
    model->editSource("# Typed");
    passSaveDelay(*model);
    EXPECT_EQ(model->markdownSource(), "# Typed");
    EXPECT_EQ(alerts_->messages.size(), 1U);
    EXPECT_FALSE(fs::exists(session_));
}

TEST_F(SummaryPreviewStateTest, ResummarizeRewritesTheSessionAndHandsItToTheQueue) {
    fs::create_directories(session_ / "intermediate" / "notes");
    ASSERT_TRUE(SessionLock::acquire(session_, "summary"));
    auto model = makeModel();
    startAndLoad(*model);
    auto selections = model->selections();
    selections.selectedProvider = "claude_api";
    selections.userNote = "  focus on decisions ";
    model->setSelections(selections);

    model->startResummarize();
    EXPECT_TRUE(model->isResummarizing());
    ASSERT_TRUE(main_.runUntil([&] { return monitorShown_ == 1; }, std::chrono::seconds(5)));

    const SessionMetadata written = SessionMetadataStore::read(session_);
    EXPECT_EQ(written.config.summary.provider, "claude_api");
    EXPECT_EQ(written.config.summary.userNote, "focus on decisions");
    EXPECT_EQ(written.steps.summary.status, StepStatus::pending);
    EXPECT_FALSE(fs::exists(session_ / "intermediate"));
    EXPECT_FALSE(fs::exists(session_ / "session.lock"));
    EXPECT_EQ(queue_->retried, std::vector<fs::path>{session_});
    EXPECT_EQ(queue_->pushes, 1);
    EXPECT_EQ(closed_, std::vector<fs::path>{session_ / "summary.md"});
    EXPECT_EQ(state().expandedSessionID(), session_);
}

TEST_F(SummaryPreviewStateTest, AFailedMetadataUpdateAlertsAndChangesNothingElse) {
    fs::create_directories(session_ / "intermediate");
    fs::remove(session_ / "session.json");
    auto model = makeModel();
    startAndLoad(*model);
    model->startResummarize();
    main_.runPending();
    ASSERT_EQ(alerts_->messages.size(), 1u);
    EXPECT_EQ(alerts_->messages[0], "Could not save the re-summarize settings. Please try again.");
    EXPECT_FALSE(model->isResummarizing());
    EXPECT_TRUE(fs::exists(session_ / "intermediate"));
    EXPECT_TRUE(queue_->retried.empty());
    EXPECT_EQ(monitorShown_, 0);
}

TEST_F(SummaryPreviewStateTest, AFinishedResummarizeShowsTheNewestVersionAndAFailedOneKeepsTheText) {
    auto published = [&](StepStatus status) {
        SessionStatusSnapshot s = snapshot_;
        s.summary = StepState::fresh(status);
        state().setSessionSnapshots({s});
    };
    published(StepStatus::done);
    auto model = makeModel(SummaryVersionStore::allVersions(session_)[1]);
    startAndLoad(*model);
    EXPECT_EQ(model->markdownSource(), "# Old");
    model->startResummarize();
    ASSERT_TRUE(main_.runUntil([&] { return monitorShown_ == 1; }, std::chrono::seconds(5)));

    published(StepStatus::running);
    EXPECT_TRUE(model->isResummarizing());
    published(StepStatus::failed);
    EXPECT_FALSE(model->isResummarizing());
    EXPECT_EQ(model->markdownSource(), "# Old");

    model->startResummarize();
    published(StepStatus::running);
    platform::writeFileAtomically(session_ / "summary.md", "# Newest");
    published(StepStatus::done);
    ASSERT_TRUE(
        main_.runUntil([&] { return model->markdownSource() == "# Newest"; }, std::chrono::seconds(5)));
    EXPECT_TRUE(model->currentVersion()->isLatest);
    EXPECT_FALSE(model->isResummarizing());
}

} // namespace
} // namespace velnote
