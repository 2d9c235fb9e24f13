#include "ui/preview/core/SummaryPreviewState.h"

#include "platform/concurrency/SerialExecutor.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/fs/Files.h"
#include "platform/text/Characters.h"
#include "session/VelnoteLogger.h"
#include "session/folder/SessionLock.h"
#include "session/folder/SummaryVersionStore.h"
#include "session/l10n/L10n.h"

#include <algorithm>
#include <system_error>

namespace velnote {
namespace {

namespace fs = std::filesystem;

// Reads and writes of summary files by every window, in the order they were asked for.
platform::Executor& summaryFileExecutor() {
    static auto* executor = new platform::SerialExecutor();
    return *executor;
}

} // namespace

SummaryPreviewState::SummaryPreviewState(SessionStatusSnapshot snapshot,
                                         std::optional<SummaryVersion> initialVersion,
                                         Dependencies dependencies)
    : snapshot_(std::move(snapshot)), initialVersion_(std::move(initialVersion)),
      appState_(dependencies.appState != nullptr ? *dependencies.appState : AppState::shared()),
      main_(dependencies.main != nullptr ? *dependencies.main : platform::MainDispatcher::shared()),
      files_(dependencies.files != nullptr ? *dependencies.files : summaryFileExecutor()),
      waiting_(dependencies.waiting != nullptr
                   ? *dependencies.waiting
                   : platform::ThreadPool::shared().executor(platform::Priority::utility)),
      timers_(dependencies.timers != nullptr ? *dependencies.timers : platform::TimerScheduler::shared()),
      defaults_(dependencies.defaults.value_or(UserDefaults())), queue_(std::move(dependencies.queue)),
      closeSummaryWindow_(std::move(dependencies.closeSummaryWindow)),
      showSessionMonitor_(std::move(dependencies.showSessionMonitor)) {
    lastSummaryStatus_ = publishedSummaryStatus();
    snapshotsToken_ = appState_.observe(AppStateField::sessionSnapshots,
                                        [this](AppStateField) { sessionSnapshotsChanged(); });
}

SummaryPreviewState::~SummaryPreviewState() {
    disappear();
}

bool SummaryPreviewState::isReadOnly() const {
    return (currentVersion_ && !currentVersion_->isLatest) || snapshot_.isClosed || shownFileUnreadable_;
}

fs::path SummaryPreviewState::latestSummaryFile() const {
    return snapshot_.id / "summary.md";
}

std::string SummaryPreviewState::currentVersionLabel() const {
    return currentVersion_ ? currentVersion_->label() : std::string("最新");
}

void SummaryPreviewState::start() {
    versions_ = SummaryVersionStore::allVersions(snapshot_.id);
    std::optional<SummaryVersion> target = initialVersion_;
    if (!target && !versions_.empty())
        target = versions_.front();
    loadVersion(target);
}

void SummaryPreviewState::selectVersion(const SummaryVersion& version) {
    if (currentVersion_ == version)
        return;
    currentVersion_ = version;
    changed();
    loadVersion(version);
}

void SummaryPreviewState::setSelectedTab(Tab tab) {
    if (selectedTab_ == tab)
        return;
    selectedTab_ = tab;
    changed();
}

void SummaryPreviewState::toggleResummarizePanel() {
    showResummarizePanel_ = !showResummarizePanel_;
    changed();
}

void SummaryPreviewState::setSelections(ResummarizeSelections selections) {
    if (selections_ == selections)
        return;
    selections_ = std::move(selections);
    changed();
}

// A missing, unreadable or non-UTF-8 file shows as an empty text; only the log tells. One that is
// there but cannot be read is read-only, so that an edit of the empty text cannot replace it. The
// jobs off the main thread touch nothing of this model: it may be gone when they run.
void SummaryPreviewState::loadVersion(std::optional<SummaryVersion> version) {
    isLoadingFile_ = true;
    changed();
    const fs::path file = version ? version->url : latestSummaryFile();
    // An edit of the latest version still waiting for its save must be on disk before that file is
    // read again, or the editor would show (and the next save keep) the text without it.
    if (file == latestSummaryFile())
        flushPendingSave();
    const bool presetPanel = !startedLoading_;
    startedLoading_ = true;
    files_.post([this, main = &main_, file, version, presetPanel, alive = std::weak_ptr<bool>(alive_)] {
        std::string text;
        bool unreadable = false;
        try {
            text = platform::readFile(file);
            if (!platform::isValidUtf8(text))
                throw std::runtime_error("not UTF-8 text");
        } catch (const std::exception& e) {
            VelnoteLogger::app().error("loadVersion: {} 読み込み失敗: {}", file.filename().string(),
                                       e.what());
            const auto* missing = dynamic_cast<const std::system_error*>(&e);
            unreadable = missing == nullptr || missing->code() != std::errc::no_such_file_or_directory;
            text.clear();
        }
        main->post([this, alive, text = std::move(text), unreadable, version, presetPanel]() mutable {
            if (alive.expired())
                return;
            markdownSource_ = std::move(text);
            shownFileUnreadable_ = unreadable;
            currentVersion_ =
                version ? version : (versions_.empty() ? std::nullopt : std::optional(versions_.front()));
            isLoadingFile_ = false;
            if (presetPanel)
                ResummarizeRequest::loadProviderFromMeta(snapshot_.id, defaults_, selections_);
            changed();
        });
    });
}

void SummaryPreviewState::editSource(std::string text) {
    if (isReadOnly() || text == markdownSource_)
        return;
    markdownSource_ = text;
    scheduleSave(std::move(text));
    changed();
}

void SummaryPreviewState::scheduleSave(std::string text) {
    saveTimer_.cancel();
    isSaving_ = true;
    pendingSaveText_ = text;
    const std::uint64_t generation = ++saveGeneration_;
    saveTimer_ = timers_.once(kSaveDelay, main_, [this, generation, alive = std::weak_ptr<bool>(alive_)] {
        if (alive.expired() || !pendingSaveText_)
            return;
        std::string pending = std::move(*pendingSaveText_);
        pendingSaveText_.reset();
        writeSummary(std::move(pending), generation);
    });
}

void SummaryPreviewState::writeSummary(std::string text, std::uint64_t generation) {
    files_.post([this, main = &main_, appState = &appState_, file = latestSummaryFile(),
                 text = std::move(text), generation, alive = std::weak_ptr<bool>(alive_)] {
        bool saved = true;
        try {
            platform::writeFileAtomically(file, text);
        } catch (const std::exception& e) {
            VelnoteLogger::app().error("scheduleSave: 書き込み失敗 {}: {}", file.filename().string(),
                                       e.what());
            saved = false;
        }
        main->post([this, appState, alive, generation, saved] {
            // The user must not take a failed save for a saved edit, even after the window closed.
            if (!saved)
                appState->presentError(
                    L10n::localized("L10n.Summary.saveFailed",
                                    "要約を保存できませんでした。編集内容はウィンドウに残っています。"
                                    "閉じる前にコピーしてください。"),
                    false);
            if (alive.expired() || generation != saveGeneration_)
                return;
            isSaving_ = false;
            changed();
        });
    });
}

void SummaryPreviewState::disappear() {
    flushPendingSave();
}

void SummaryPreviewState::flushPendingSave() {
    saveTimer_.cancel();
    if (pendingSaveText_) {
        std::string pending = std::move(*pendingSaveText_);
        pendingSaveText_.reset();
        writeSummary(std::move(pending), saveGeneration_);
    }
}

std::optional<StepStatus> SummaryPreviewState::publishedSummaryStatus() const {
    const auto& snapshots = appState_.sessionSnapshots();
    const auto found = std::find_if(snapshots.begin(), snapshots.end(),
                                    [this](const SessionStatusSnapshot& s) { return s.id == snapshot_.id; });
    if (found == snapshots.end())
        return std::nullopt;
    return found->summary.status;
}

void SummaryPreviewState::sessionSnapshotsChanged() {
    const std::optional<StepStatus> status = publishedSummaryStatus();
    if (status == lastSummaryStatus_)
        return;
    lastSummaryStatus_ = status;
    if (!isResummarizing_ || (status != StepStatus::done && status != StepStatus::failed))
        return;
    isResummarizing_ = false;
    if (status == StepStatus::done) {
        versions_ = SummaryVersionStore::allVersions(snapshot_.id);
        loadVersion(versions_.empty() ? std::nullopt : std::optional(versions_.front()));
        return;
    }
    changed();
}

void SummaryPreviewState::startResummarize() {
    const SummaryProvider kind = ResummarizeRequest::kind(selections_);
    const std::string cliModel = ResummarizeRequest::cliModel(selections_, kind);
    const fs::path sessionDir = snapshot_.id;
    try {
        ResummarizeRequest::applyResummarizeMetadataUpdate(sessionDir, selections_, kind, cliModel,
                                                           defaults_);
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("startResummarize: metadata update failed: {}", e.what());
        appState_.presentError(L10n::localized("L10n.Summary.resummarizeMetadataUpdateFailed",
                                               "再要約の設定保存に失敗しました。もう一度お試しください。"),
                               false);
        return;
    }
    std::error_code error;
    const fs::path intermediate = sessionDir / "intermediate";
    if (fs::is_directory(intermediate, error)) {
        fs::remove_all(intermediate, error);
        if (error)
            VelnoteLogger::app().error("startResummarize: intermediate 削除失敗: {}", error.message());
    }
    if (fs::exists(SessionLock::fileIn(sessionDir), error)) {
        try {
            SessionLock::clearStale(sessionDir);
        } catch (const std::exception& e) {
            VelnoteLogger::app().error("startResummarize: SessionLock 解除失敗: {}", e.what());
        }
    }
    isResummarizing_ = true;
    changed();

    waiting_.post([this, main = &main_, sessionDir, queue = queue_, alive = std::weak_ptr<bool>(alive_)] {
        if (queue) {
            queue->retrySummaryOnly(sessionDir).wait();
            queue->pushSnapshotsForced().wait();
        }
        main->post([this, alive, sessionDir] {
            if (alive.expired())
                return;
            // Closing may end this model; everything needed afterwards is copied first.
            AppState& appState = appState_;
            auto showMonitor = showSessionMonitor_;
            if (closeSummaryWindow_)
                closeSummaryWindow_(sessionDir / "summary.md");
            appState.setExpandedSessionID(sessionDir);
            if (showMonitor)
                showMonitor();
        });
    });
}

void SummaryPreviewState::changed() {
    if (onChange_)
        onChange_();
}

} // namespace velnote
