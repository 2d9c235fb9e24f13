#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/ManualClock.h"
#include "platform/concurrency/ThreadPool.h"
#include "session/folder/SessionLock.h"
#include "session/folder/SessionMetadataStore.h"
#include "session/l10n/L10n.h"
#include "session/support/FakeSecretStore.h"
#include "support/TempDir.h"
#include "ui/monitor/core/SessionMonitorModel.h"
#include "ui/monitor/support/FakeSessionMonitorServices.h"

#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace velnote {
namespace {
namespace fs = std::filesystem;

class RecordingAlerts final : public ErrorAlertPresenter {
  public:
    void showCriticalAlert(const Alert& alert, std::function<void()> dismissed) override {
        messages.push_back(alert.message);
        dismissed();
    }
    std::vector<std::string> messages;
};

SessionStatusSnapshot snapshotAt(const fs::path& dir, bool closed = false) {
    SessionStatusSnapshot s;
    s.id = dir;
    s.dirName = dir.filename().string();
    s.isClosed = closed;
    s.config.transcription.whisperModel = "medium";
    return s;
}

class SessionMonitorModelTest : public ::testing::Test {
  protected:
    SessionMonitorModelTest() {
        state_.setErrorAlertPresenter(alerts_);
        model_ = std::make_unique<SessionMonitorModel>(SessionMonitorModel::Dependencies{
            .appState = &state_,
            .services = services_,
            .retry = {.settings = &settings_, .keychain = &keychain_},
            .keychain = &keychain_,
            .clock = &clock_,
            .openRetryDialog =
                [this](RetryWindowInput input, std::function<void(RetryProviderSelectionState)> confirm) {
                    dialogs_.push_back(input);
                    confirms_.push_back(std::move(confirm));
                },
            .showSummary = [this](const SessionStatusSnapshot& s,
                                  const SummaryVersion& v) { shown_.emplace_back(s.id, v); },
            .revealFolder = [this](const fs::path& dir) { revealed_.push_back(dir); },
        });
    }

    fs::path makeSession(const std::string& name, const SessionMetadata& meta) {
        const fs::path dir = dir_ / name;
        fs::create_directories(dir);
        SessionMetadataStore::write(meta, dir);
        return dir;
    }

    testing::TempDir dir_;
    platform::SettingsStore settings_{dir_ / "settings.json"};
    platform::ManualClock clock_;
    platform::MainDispatcher main_;
    platform::ThreadPool pool_{2};
    AppState state_{{&settings_, &clock_, &main_, &pool_}};
    std::shared_ptr<RecordingAlerts> alerts_ = std::make_shared<RecordingAlerts>();
    std::shared_ptr<testing::FakeSecretStore> secrets_ = std::make_shared<testing::FakeSecretStore>();
    KeychainHelper keychain_{secrets_};
    std::shared_ptr<testing::FakeSessionMonitorServices> services_ =
        std::make_shared<testing::FakeSessionMonitorServices>();
    std::vector<RetryWindowInput> dialogs_;
    std::vector<std::function<void(RetryProviderSelectionState)>> confirms_;
    std::vector<std::pair<fs::path, SummaryVersion>> shown_;
    std::vector<fs::path> revealed_;
    std::unique_ptr<SessionMonitorModel> model_;
};

using Content = SessionMonitorModel::Content;

TEST_F(SessionMonitorModelTest, LoadingUntilTheFirstRefreshThenEmptyOrList) {
    model_->appear();
    EXPECT_EQ(model_->content(), Content::loading);
    EXPECT_TRUE(model_->isRefreshing());
    model_->refresh(); // dropped while one runs
    EXPECT_EQ(services_->count("push"), 1u);
    services_->finish("push");
    EXPECT_EQ(model_->content(), Content::empty);
    EXPECT_FALSE(model_->isRefreshing());

    state_.setSessionSnapshots({snapshotAt("/s/a")});
    EXPECT_EQ(model_->content(), Content::list);
    model_->setWhisperModelFilter("large"); // excludes everything: still the list
    EXPECT_TRUE(model_->filteredSnapshots().empty());
    EXPECT_EQ(model_->content(), Content::list);
}

TEST_F(SessionMonitorModelTest, PublishedSnapshotsShowAtOnceWhileRefreshing) {
    state_.setSessionSnapshots({snapshotAt("/s/a"), snapshotAt("/s/b", true)});
    model_->appear();
    EXPECT_EQ(model_->content(), Content::list);
    EXPECT_TRUE(model_->isRefreshing());
    EXPECT_EQ(model_->workingSnapshots().size(), 1u);
    EXPECT_EQ(model_->savedSnapshots().size(), 1u);
}

TEST_F(SessionMonitorModelTest, ResetRestoresEveryFilterAndRefilters) {
    state_.setSessionSnapshots({snapshotAt("/s/a")});
    model_->setStatusFilter(SessionStatusSnapshot::OverallStatus::failed);
    model_->setFreeTextFilter("zzz");
    EXPECT_TRUE(model_->filteredSnapshots().empty());
    model_->resetFilters();
    EXPECT_EQ(model_->filters(), SessionFilters::initial());
    EXPECT_EQ(model_->filteredSnapshots().size(), 1u);
}

TEST_F(SessionMonitorModelTest, RemoveDropsTheRowAtOnceThenRefreshes) {
    state_.setSessionSnapshots({snapshotAt("/s/a"), snapshotAt("/s/b")});
    model_->remove(snapshotAt("/s/a"));
    ASSERT_EQ(state_.sessionSnapshots().size(), 1u);
    EXPECT_EQ(state_.sessionSnapshots()[0].id, "/s/b");
    EXPECT_EQ(services_->calls, std::vector<std::string>{"remove"});
    services_->finish("remove");
    EXPECT_EQ(services_->count("push"), 1u);
}

TEST_F(SessionMonitorModelTest, InFlightActionsDisableTheRowUntilTheyReturn) {
    const SessionStatusSnapshot a = snapshotAt("/s/a", true);
    services_->openSucceeds = false;
    model_->open(a);
    EXPECT_TRUE(model_->isActionPending("/s/a"));
    services_->finish("open");
    EXPECT_FALSE(model_->isActionPending("/s/a"));
    ASSERT_TRUE(model_->infoAlertMessage());
    EXPECT_NE(model_->infoAlertMessage()->find("Could not open the session"), std::string::npos);
    model_->dismissInfoAlert();
    EXPECT_FALSE(model_->infoAlertMessage());

    bool stopped = false;
    model_->stop(a, [&] { stopped = true; });
    EXPECT_TRUE(model_->isActionPending("/s/a"));
    services_->finish("stop");
    EXPECT_TRUE(stopped);
    EXPECT_FALSE(model_->isActionPending("/s/a"));
}

TEST_F(SessionMonitorModelTest, DeleteAsksFirstAndCancelDeletesNothing) {
    state_.setSessionSnapshots({snapshotAt("/s/a")});
    model_->requestDelete(snapshotAt("/s/a"));
    ASSERT_TRUE(model_->deleteConfirmation());
    model_->cancelDelete();
    EXPECT_FALSE(model_->deleteConfirmation());
    EXPECT_TRUE(services_->calls.empty());

    model_->requestDelete(snapshotAt("/s/a"));
    model_->confirmDelete();
    EXPECT_FALSE(model_->deleteConfirmation());
    EXPECT_TRUE(state_.sessionSnapshots().empty());
    EXPECT_TRUE(model_->isActionPending("/s/a"));
    services_->finish("delete");
    EXPECT_FALSE(model_->isActionPending("/s/a"));
    EXPECT_EQ(services_->count("push"), 1u);
}

TEST_F(SessionMonitorModelTest, CloseSheetStartsWithTheOptionOffAndClearsBeforeClosing) {
    model_->requestClose(snapshotAt("/s/a"));
    model_->setCloseDeleteMediaFiles(true);
    model_->cancelClose();
    model_->requestClose(snapshotAt("/s/b"));
    EXPECT_FALSE(model_->closeDeleteMediaFiles());
    model_->confirmClose(true);
    EXPECT_FALSE(model_->closeTarget());
    EXPECT_EQ(services_->calls, std::vector<std::string>{"close-media"});
    EXPECT_TRUE(model_->isActionPending("/s/b"));
    services_->finish("close-media");
    EXPECT_FALSE(model_->isActionPending("/s/b"));
}

TEST_F(SessionMonitorModelTest, ViewOpensTheLatestSummaryAndRevealShowsTheFolder) {
    model_->view(snapshotAt("/s/a"));
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0].second.url, fs::path("/s/a/summary.md"));
    EXPECT_TRUE(shown_[0].second.isLatest);
    EXPECT_FALSE(shown_[0].second.runConfig);
    model_->reveal(snapshotAt("/s/a"));
    EXPECT_EQ(revealed_, std::vector<fs::path>{"/s/a"});
}

TEST_F(SessionMonitorModelTest, CompletionsAfterTheModelIsGoneAreDropped) {
    model_->open(snapshotAt("/s/a", true));
    model_->remove(snapshotAt("/s/a"));
    model_.reset();
    services_->finish("open");
    services_->finish("remove");
    EXPECT_EQ(services_->count("push"), 0u);
}

TEST_F(SessionMonitorModelTest, RetryRewritesTheFileThenQueuesAndRefreshes) {
    SessionMetadata meta;
    meta.steps.transcription.status = StepStatus::done;
    meta.steps.diarization.status = StepStatus::skipped;
    meta.steps.summary.status = StepStatus::failed;
    meta.summaryHeadline = "kept";
    const fs::path dir = makeSession("s1", meta);
    const SessionStatusSnapshot snapshot = snapshotAt(dir);

    model_->openRetryProviderSelection(snapshot);
    ASSERT_EQ(dialogs_.size(), 1u);
    EXPECT_EQ(dialogs_[0].values.startStep, RetryStartStep::summary);

    RetryFormValues values = dialogs_[0].values;
    values.provider = "openrouter";
    values.providerAPIKey = "sk-new";
    values.providerModel = "m";
    confirms_[0](RetryProviderSelectionState::assemble(values));

    const SessionMetadata written = SessionMetadataStore::read(dir);
    EXPECT_EQ(written.config.summary.provider, "openrouter");
    EXPECT_EQ(written.config.summary.providerModel, "m");
    EXPECT_EQ(written.steps.summary, StepState::fresh(StepStatus::pending));
    EXPECT_EQ(written.summaryHeadline, "kept");
    EXPECT_EQ(keychain_.load(KeychainHelper::openRouterAPIKey), "sk-new");
    EXPECT_EQ(services_->calls, std::vector<std::string>{"retry"});
    services_->finish("retry");
    EXPECT_EQ(services_->count("push"), 1u);
}

TEST_F(SessionMonitorModelTest, UnreadableFileOpensFromTheSettingsAndConfirmReportsTheFailure) {
    const fs::path dir = dir_ / "broken";
    fs::create_directories(dir);
    std::ofstream(dir / "session.json") << "{ not json";
    settings_.set("summaryProvider", "gemini");
    SessionStatusSnapshot snapshot = snapshotAt(dir);
    snapshot.transcription.status = StepStatus::failed;

    model_->openRetryProviderSelection(snapshot);
    ASSERT_EQ(dialogs_.size(), 1u);
    EXPECT_EQ(dialogs_[0].values.provider, "gemini");
    EXPECT_EQ(dialogs_[0].values.startStep, RetryStartStep::transcription);

    confirms_[0](RetryProviderSelectionState::assemble(dialogs_[0].values));
    EXPECT_TRUE(services_->calls.empty()); // nothing queued
    ASSERT_EQ(alerts_->messages.size(), 1u);
    EXPECT_EQ(alerts_->messages[0],
              L10n::localized("L10n.SessionMonitor.retryMetadataUpdateFailed",
                              "リトライ設定の保存に失敗しました。もう一度お試しください。"));
    std::ifstream in(dir / "session.json");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "{ not json");
}

TEST_F(SessionMonitorModelTest, ASessionDeletedWhileTheDialogIsOpenIsNotMadeAgain) {
    const fs::path dir = makeSession("gone", SessionMetadata{});
    model_->openRetryProviderSelection(snapshotAt(dir));
    ASSERT_EQ(dialogs_.size(), 1u);
    fs::remove_all(dir);
    confirms_[0](RetryProviderSelectionState::assemble(dialogs_[0].values));
    EXPECT_FALSE(fs::exists(dir));
    EXPECT_TRUE(services_->calls.empty());
    EXPECT_EQ(alerts_->messages.size(), 1u);
}

TEST_F(SessionMonitorModelTest, RetryOfASessionAnotherRunHoldsChangesNothing) {
    SessionMetadata meta;
    meta.steps.transcription.status = StepStatus::failed;
    const fs::path dir = makeSession("busy", meta);
    ASSERT_TRUE(SessionLock::acquire(dir, "transcription")); // this live process holds it
    const std::string before = SessionMetadataStore::encode(SessionMetadataStore::read(dir));

    auto state = RetryProviderSelectionState::assemble(RetryFormValues::initial());
    state.startStep = RetryStartStep::transcription;
    model_->confirmRetryWithProvider(snapshotAt(dir), state);
    EXPECT_EQ(SessionMetadataStore::encode(SessionMetadataStore::read(dir)), before);
    EXPECT_TRUE(services_->calls.empty());
    ASSERT_EQ(alerts_->messages.size(), 1u);
    EXPECT_NE(alerts_->messages[0].find("being processed"), std::string::npos);

    SessionLock::release(dir);
    model_->confirmRetryWithProvider(snapshotAt(dir), state);
    EXPECT_EQ(services_->calls, std::vector<std::string>{"retry"});
}

TEST_F(SessionMonitorModelTest, KeychainFailureIsShownAndTheRetryGoesOn) {
    SessionMetadata meta;
    const fs::path dir = makeSession("s2", meta);
    secrets_->forcedAdd =
        platform::SecretWrite{platform::SecretWriteStatus::failed, {.status = 5, .message = "denied"}};
    secrets_->forcedUpdate = secrets_->forcedAdd;
    RetryFormValues values = RetryFormValues::initial();
    values.provider = "openrouter";
    values.providerAPIKey = "sk";
    model_->confirmRetryWithProvider(snapshotAt(dir), RetryProviderSelectionState::assemble(values));
    EXPECT_EQ(alerts_->messages.size(), 1u);
    EXPECT_EQ(services_->calls, std::vector<std::string>{"retry"});

    // A key typed while another provider is chosen is not saved.
    secrets_->forcedAdd.reset();
    secrets_->forcedUpdate.reset();
    values.provider = "openai";
    model_->confirmRetryWithProvider(snapshotAt(dir), RetryProviderSelectionState::assemble(values));
    EXPECT_EQ(keychain_.load(KeychainHelper::openRouterAPIKey), "");
}

} // namespace
} // namespace velnote
