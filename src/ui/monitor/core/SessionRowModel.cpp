#include "ui/monitor/core/SessionRowModel.h"

namespace velnote {

SessionRowModel::SessionRowModel(SessionStatusSnapshot snapshot, bool isActionPending, TimePoint now)
    : snapshot_(std::move(snapshot)), isActionPending_(isActionPending), now_(now) {}

void SessionRowModel::update(SessionStatusSnapshot snapshot, bool isActionPending) {
    snapshot_ = std::move(snapshot);
    isActionPending_ = isActionPending;
}

SessionRowModel::Buttons SessionRowModel::buttons() const {
    const SessionStatusSnapshot& s = snapshot_;
    const bool free = !isActionPending_;
    return Buttons{
        .retry = {!s.isClosed && !s.isRunning, free},
        .stop = {s.isRunning, free && !isStopping_},
        .remove = {!s.isRunning && s.isPending, free},
        .close = {!s.isClosed && !s.isRunning, free},
        .open = {s.isClosed && !s.isMediaDeleted, free},
        .del = {!s.isRunning, free},
    };
}

SessionRowModel::ViewControl SessionRowModel::viewControl() const {
    if (snapshot_.summary.status != StepStatus::done && summaryVersions_.empty())
        return ViewControl::none;
    return summaryVersions_.size() >= 2 ? ViewControl::menu : ViewControl::button;
}

bool SessionRowModel::consumeExpandRequest(const std::optional<std::filesystem::path>& request) {
    if (!request || *request != snapshot_.id)
        return false;
    expanded_ = true;
    return true;
}

bool SessionRowModel::beginStop() {
    if (isStopping_ || isActionPending_)
        return false;
    isStopping_ = true;
    return true;
}

void SessionRowModel::applyVersions(std::vector<SummaryVersion> versions, VersionLoad load) {
    if (load == VersionLoad::summaryStatus && snapshot_.summary.status != StepStatus::done &&
        versions.empty())
        return;
    summaryVersions_ = std::move(versions);
}

} // namespace velnote
