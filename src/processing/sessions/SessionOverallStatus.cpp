#include "processing/sessions/SessionOverallStatus.h"

#include "session/l10n/L10n.h"

#include <algorithm>
#include <array>

namespace velnote {

SessionOverallStatus::Status SessionOverallStatus::of(const SessionStatusSnapshot& s) {
    const std::array<StepStatus, 3> steps{s.transcription.status, s.diarization.status, s.summary.status};
    const auto any = [&](StepStatus wanted) { return std::ranges::find(steps, wanted) != steps.end(); };
    if (s.isRunning && any(StepStatus::running))
        return Status::running;
    if (any(StepStatus::failed))
        return Status::failed;
    if (s.isRunning || s.isPending)
        return Status::queued;
    if (std::ranges::all_of(
            steps, [](StepStatus st) { return st == StepStatus::done || st == StepStatus::skipped; })) {
        return Status::done;
    }
    if (s.manuallyStopped)
        return Status::stopped;
    return Status::pending;
}

std::string SessionOverallStatus::label(Status status) {
    switch (status) {
    case Status::queued:
        return L10n::localized("L10n.Processing.queued", "Queued");
    case Status::running:
        return L10n::localized("L10n.Processing.running", "Processing");
    case Status::done:
        return L10n::localized("L10n.Processing.done", "Done");
    case Status::failed:
        return L10n::localized("L10n.Processing.failed", "Failed");
    case Status::stopped:
        return L10n::localized("L10n.Processing.stopped", "Stopped");
    case Status::pending:
        break;
    }
    return L10n::localized("L10n.Processing.pending", "Pending");
}

} // namespace velnote
