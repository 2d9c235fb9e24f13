#include "ui/monitor/core/SessionMonitorModel.h"

#include "platform/concurrency/SystemClock.h"
#include "session/VelnoteLogger.h"
#include "session/folder/SessionLock.h"
#include "session/folder/SessionMetadataStore.h"
#include "session/l10n/L10n.h"

#include <algorithm>
#include <stdexcept>

namespace velnote {
namespace fs = std::filesystem;

namespace {

// Another run holds the session (its lock is live): rewriting its steps now would be undone by
// that run, and the chosen settings would be recorded without being used.
class SessionBusyError : public std::runtime_error {
  public:
    SessionBusyError() : std::runtime_error("session is being processed") {}
};

} // namespace

SessionMonitorModel::SessionMonitorModel(Dependencies dependencies)
    : deps_(std::move(dependencies)), appState_(deps_.appState ? *deps_.appState : AppState::shared()),
      filters_(SessionFilters::initial()), retryValues_(RetryFormValues::initial()) {
    if (!deps_.services)
        throw std::invalid_argument("SessionMonitorModel needs its services");
    snapshotsToken_ = appState_.observe(AppStateField::sessionSnapshots,
                                        [this](AppStateField) { rebuildCachesAndApplyFilters(); });
    countToken_ = appState_.observe(AppStateField::processingSessionCount,
                                    [this](AppStateField) { changed(Change::toolbar); });
}

SessionMonitorModel::~SessionMonitorModel() {
    *alive_ = false;
}

std::function<void()> SessionMonitorModel::guarded(std::function<void()> job) {
    return [alive = std::weak_ptr<bool>(alive_), job = std::move(job)] {
        if (const auto flag = alive.lock(); flag && *flag)
            job();
    };
}

void SessionMonitorModel::changed(Change change) {
    if (onChange_)
        onChange_(change);
}

void SessionMonitorModel::appear() {
    if (!appState_.sessionSnapshots().empty()) {
        sessionsLoaded_ = true;
        rebuildCachesAndApplyFilters();
    }
    refresh();
}

void SessionMonitorModel::refresh() {
    if (isRefreshing_)
        return;
    isRefreshing_ = true;
    changed(Change::toolbar);
    deps_.services->pushSnapshots(guarded([this] {
        VelnoteLogger::processing().debug("SessionMonitorView.refresh sessionSnapshots={}",
                                          appState_.sessionSnapshots().size());
        const bool firstLoad = !sessionsLoaded_;
        sessionsLoaded_ = true;
        isRefreshing_ = false;
        changed(Change::toolbar);
        if (firstLoad)
            changed(Change::list);
    }));
}

std::int64_t SessionMonitorModel::processingSessionCount() const {
    return appState_.processingSessionCount();
}

const std::vector<SessionStatusSnapshot>& SessionMonitorModel::allSnapshots() const {
    return appState_.sessionSnapshots();
}

std::vector<SessionStatusSnapshot> SessionMonitorModel::workingSnapshots() const {
    std::vector<SessionStatusSnapshot> working;
    std::copy_if(filtered_.begin(), filtered_.end(), std::back_inserter(working),
                 [](const SessionStatusSnapshot& s) { return !s.isClosed; });
    return working;
}

std::vector<SessionStatusSnapshot> SessionMonitorModel::savedSnapshots() const {
    std::vector<SessionStatusSnapshot> saved;
    std::copy_if(filtered_.begin(), filtered_.end(), std::back_inserter(saved),
                 [](const SessionStatusSnapshot& s) { return s.isClosed; });
    return saved;
}

SessionMonitorModel::Content SessionMonitorModel::content() const {
    if (!sessionsLoaded_)
        return Content::loading;
    if (filtered_.empty() && appState_.sessionSnapshots().empty())
        return Content::empty;
    return Content::list;
}

bool SessionMonitorModel::isActionPending(const fs::path& sessionDir) const {
    return inFlightSessionPaths_.count(sessionDir.string()) > 0;
}

void SessionMonitorModel::rebuildCachesAndApplyFilters() {
    filter_.rebuildCaches(appState_.sessionSnapshots());
    changed(Change::filters);
    applyFilters();
}

void SessionMonitorModel::applyFilters() {
    filtered_ = filter_.apply(appState_.sessionSnapshots(), filters_);
    changed(Change::list);
}

void SessionMonitorModel::setStatusFilter(std::optional<SessionStatusSnapshot::OverallStatus> status) {
    if (filters_.status == status)
        return;
    filters_.status = status;
    applyFilters();
}

void SessionMonitorModel::setWhisperModelFilter(std::string model) {
    if (filters_.whisperModel == model)
        return;
    filters_.whisperModel = std::move(model);
    applyFilters();
}

void SessionMonitorModel::setSummaryProviderFilter(std::string provider) {
    if (filters_.summaryProvider == provider)
        return;
    filters_.summaryProvider = std::move(provider);
    applyFilters();
}

void SessionMonitorModel::setFreeTextFilter(std::string text) {
    if (filters_.freeText == text)
        return;
    filters_.freeText = std::move(text);
    applyFilters();
}

void SessionMonitorModel::resetFilters() {
    filters_ = SessionFilters::initial();
    changed(Change::filters);
    applyFilters();
}

void SessionMonitorModel::setInFlight(const fs::path& sessionDir, bool inFlight) {
    if (inFlight)
        inFlightSessionPaths_.insert(sessionDir.string());
    else
        inFlightSessionPaths_.erase(sessionDir.string());
    changed(Change::list);
}

void SessionMonitorModel::removeFromSnapshots(const fs::path& sessionDir) {
    std::vector<SessionStatusSnapshot> kept = appState_.sessionSnapshots();
    std::erase_if(kept, [&](const SessionStatusSnapshot& s) { return s.id == sessionDir; });
    appState_.setSessionSnapshots(std::move(kept));
}

void SessionMonitorModel::view(const SessionStatusSnapshot& snapshot) {
    if (!deps_.showSummary)
        return;
    const platform::Clock& clock = deps_.clock ? *deps_.clock : platform::SystemClock::shared();
    SummaryVersion latest{
        .url = snapshot.id / "summary.md",
        .createdAt = std::chrono::time_point_cast<SummaryVersion::Time::duration>(clock.wallNow()),
        .isLatest = true,
        .runConfig = std::nullopt,
    };
    deps_.showSummary(snapshot, latest);
}

void SessionMonitorModel::viewVersion(const SessionStatusSnapshot& snapshot, const SummaryVersion& version) {
    if (deps_.showSummary)
        deps_.showSummary(snapshot, version);
}

void SessionMonitorModel::reveal(const SessionStatusSnapshot& snapshot) {
    if (deps_.revealFolder)
        deps_.revealFolder(snapshot.id);
}

void SessionMonitorModel::remove(const SessionStatusSnapshot& snapshot) {
    removeFromSnapshots(snapshot.id);
    deps_.services->removePending(snapshot.id, guarded([this] { refresh(); }));
}

void SessionMonitorModel::open(const SessionStatusSnapshot& snapshot) {
    const fs::path dir = snapshot.id;
    setInFlight(dir, true);
    deps_.services->openSavedSession(dir, [this, alive = std::weak_ptr<bool>(alive_), dir](bool ok) {
        if (alive.expired())
            return;
        if (!ok) {
            infoAlertMessage_ = L10n::localized("L10n.SessionMonitor.openSessionFailed",
                                                "Could not open the session. Some files may be missing "
                                                "locally. Open the folder in Finder and "
                                                "download them manually.");
            changed(Change::alerts);
        }
        setInFlight(dir, false);
    });
}

void SessionMonitorModel::stop(const SessionStatusSnapshot& snapshot, std::function<void()> done) {
    const fs::path dir = snapshot.id;
    setInFlight(dir, true);
    deps_.services->stopProcessing(dir,
                                   [this, alive = std::weak_ptr<bool>(alive_), dir, done = std::move(done)] {
                                       if (!alive.expired())
                                           setInFlight(dir, false);
                                       if (done)
                                           done();
                                   });
}

void SessionMonitorModel::requestDelete(const SessionStatusSnapshot& snapshot) {
    deleteTarget_ = snapshot;
    changed(Change::alerts);
}

void SessionMonitorModel::cancelDelete() {
    deleteTarget_.reset();
    changed(Change::alerts);
}

void SessionMonitorModel::confirmDelete() {
    if (!deleteTarget_)
        return;
    const SessionStatusSnapshot snapshot = *deleteTarget_;
    deleteTarget_.reset();
    changed(Change::alerts);
    deleteSessionImmediately(snapshot);
}

void SessionMonitorModel::deleteSessionImmediately(const SessionStatusSnapshot& snapshot) {
    const fs::path dir = snapshot.id;
    setInFlight(dir, true);
    removeFromSnapshots(dir);
    deps_.services->deleteSession(dir, guarded([this, dir] {
                                      setInFlight(dir, false);
                                      refresh();
                                  }));
}

void SessionMonitorModel::requestClose(const SessionStatusSnapshot& snapshot) {
    closeDeleteMediaFiles_ = false;
    closeTarget_ = snapshot;
    changed(Change::alerts);
}

void SessionMonitorModel::cancelClose() {
    closeTarget_.reset();
    changed(Change::alerts);
}

void SessionMonitorModel::confirmClose(bool deleteMediaFiles) {
    if (!closeTarget_)
        return;
    const fs::path dir = closeTarget_->id;
    closeTarget_.reset();
    changed(Change::alerts);
    setInFlight(dir, true);
    deps_.services->closeSession(dir, deleteMediaFiles ? SessionMedia::remove : SessionMedia::keep,
                                 guarded([this, dir] { setInFlight(dir, false); }));
}

void SessionMonitorModel::dismissInfoAlert() {
    infoAlertMessage_.reset();
    changed(Change::alerts);
}

void SessionMonitorModel::openRetryProviderSelection(const SessionStatusSnapshot& snapshot) {
    const RetryPreparation preparation(deps_.retry);
    try {
        retryValues_ = preparation.fromSession(SessionMetadataStore::read(snapshot.id), retryValues_);
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("failed to read session metadata: {}", e.what());
        retryValues_ = preparation.fromDefaults(snapshot, retryValues_);
    }
    if (!deps_.openRetryDialog)
        return;
    deps_.openRetryDialog(
        RetryWindowInput{.snapshot = snapshot, .values = retryValues_},
        [this, alive = std::weak_ptr<bool>(alive_), snapshot](RetryProviderSelectionState state) {
            if (!alive.expired())
                confirmRetryWithProvider(snapshot, state);
        });
}

void SessionMonitorModel::confirmRetryWithProvider(const SessionStatusSnapshot& snapshot,
                                                   const RetryProviderSelectionState& state) {
    const RetryPreparation preparation(deps_.retry);
    const RetryPreparation::RetrySelectionInput input = preparation.selectionInput(state);
    if (state.providerRawValue == rawValue(SummaryProvider::openRouter) && !state.providerAPIKey.empty()) {
        try {
            const KeychainHelper fallback;
            (deps_.keychain ? *deps_.keychain : fallback)
                .save(state.providerAPIKey, KeychainHelper::openRouterAPIKey);
        } catch (const std::exception& e) {
            appState_.presentError(e.what(), false);
        }
    }

    const fs::path dir = snapshot.id;
    try {
        SessionMetadataStore::update(dir, [&](SessionMetadata& meta) {
            if (fs::exists(SessionLock::fileIn(dir)) && !SessionLock::isStale(dir))
                throw SessionBusyError();
            RetryPreparation::applyRetrySelection(meta, input);
        });
    } catch (const SessionBusyError&) {
        VelnoteLogger::app().error("retry refused: session is being processed: {}", dir.string());
        appState_.presentError(L10n::localized("L10n.SessionMonitor.retrySessionBusy",
                                               "The session is being processed. Try again after it stops."),
                               false);
        return;
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("failed to update session metadata for retry: {}", e.what());
        appState_.presentError(L10n::localized("L10n.SessionMonitor.retryMetadataUpdateFailed",
                                               "リトライ設定の保存に失敗しました。もう一度お試しください。"),
                               false);
        return;
    }
    deps_.services->retryFailed(dir, guarded([this] { refresh(); }));
}

} // namespace velnote
