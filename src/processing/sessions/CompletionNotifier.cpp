#include "processing/sessions/CompletionNotifier.h"

#include "app/state/AppState.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/SystemClock.h"
#include "session/VelnoteLogger.h"
#include "session/folder/SessionMetadataStore.h"
#include "session/l10n/L10n.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace velnote {
namespace {

namespace fs = std::filesystem;

std::string joined(const std::vector<std::string>& names) {
    const auto separator = L10n::localized("L10n.Processing.stepSeparator", ", ");
    std::string text;
    for (const auto& name : names)
        text += (text.empty() ? "" : separator) + name;
    return text;
}

} // namespace

CompletionNotifier::CompletionNotifier(Dependencies dependencies) : dependencies_(std::move(dependencies)) {
    if (!dependencies_.center)
        throw std::invalid_argument("CompletionNotifier needs a notification center");
    if (!dependencies_.clock)
        dependencies_.clock = &platform::SystemClock::shared();
    if (!dependencies_.mainDispatcher)
        dependencies_.mainDispatcher = &platform::MainDispatcher::shared();
    if (!dependencies_.setLastTranscriptPath) {
        dependencies_.setLastTranscriptPath = [](std::optional<fs::path> path) {
            AppState::shared().setLastTranscriptPath(std::move(path));
        };
    }
}

platform::NotificationCategory CompletionNotifier::category() {
    return {kCategoryIdentifier,
            {{kShowInFinderActionIdentifier,
              L10n::localized("L10n.Notifications.showInFinderActionTitle", "Show in Finder")}}};
}

void CompletionNotifier::notifyCompletion(const fs::path& sessionDir) {
    const auto& log = VelnoteLogger::processing();
    const auto folderName = sessionDir.filename().string();
    SessionMetadata metadata;
    try {
        metadata = SessionMetadataStore::read(sessionDir);
    } catch (const std::exception& e) {
        log.error("failed to read session metadata for completion notification: {}: {}", folderName,
                  e.what());
        return;
    }
    if (metadata.completionNotificationSentAt)
        return;

    struct Step {
        const StepState& state;
        std::string name;
        const char* resultFile;
    };
    const Step steps[] = {
        {metadata.steps.transcription, L10n::localized("L10n.Processing.transcription", "Transcription"),
         "transcript.txt"},
        {metadata.steps.summary, L10n::localized("L10n.Processing.summary", "Summary"), "summary.md"},
    };
    std::vector<fs::path> resultFiles;
    std::vector<std::string> doneNames;
    std::vector<std::string> failedNames;
    std::optional<std::string> errorText;
    for (const auto& step : steps) {
        std::error_code missing;
        if (step.state.status == StepStatus::done) {
            doneNames.push_back(step.name);
            if (fs::exists(sessionDir / step.resultFile, missing))
                resultFiles.push_back(sessionDir / step.resultFile);
        }
        if (step.state.status == StepStatus::failed) {
            failedNames.push_back(step.name);
            if (!errorText && step.state.error)
                errorText = step.state.error;
        }
    }
    if (resultFiles.empty() && failedNames.empty())
        return;

    std::optional<fs::path> lastTranscript;
    if (!resultFiles.empty())
        lastTranscript = resultFiles.front();
    dependencies_.mainDispatcher->post(
        [set = dependencies_.setLastTranscriptPath, lastTranscript] { set(lastTranscript); });

    platform::NotificationRequest request;
    request.identifier = kIdentifierPrefix + folderName;
    request.categoryIdentifier = kCategoryIdentifier;
    request.playsDefaultSound = true;
    const bool failed = !failedNames.empty();
    request.userInfo = {{kSessionDirKey, sessionDir.string()}, {kHasErrorKey, failed}};
    if (failed) {
        request.title = L10n::localized("L10n.Notifications.processingFailedTitle", "Velnote: Failed");
        request.body = errorText && !errorText->empty()
                           ? L10n::localized("L10n.Notifications.processingFailedBody", "%@ %@ failed. %@",
                                             {folderName, joined(failedNames), *errorText})
                           : L10n::localized("L10n.Notifications.processingFailedNoSteps",
                                             "%@ processing failed.", {folderName});
    } else {
        request.title = L10n::localized("L10n.Notifications.processingCompletedTitle", "Velnote: Completed");
        request.body =
            L10n::localized("L10n.Notifications.processingCompletedBody",
                            "%@ %@ completed. Click to open summary.", {folderName, joined(doneNames)});
    }

    try {
        dependencies_.center->add(request);
    } catch (const std::exception& e) {
        log.error("failed to deliver completion notification: {}", e.what());
        return;
    }
    try {
        const auto sentAt = std::chrono::floor<std::chrono::seconds>(dependencies_.clock->wallNow());
        SessionMetadataStore::update(
            sessionDir, [sentAt](SessionMetadata& m) { m.completionNotificationSentAt = sentAt; });
    } catch (const std::exception& e) {
        log.error("failed to deliver completion notification: {}", e.what());
    }
}

} // namespace velnote
