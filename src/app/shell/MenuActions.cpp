#include "app/shell/MenuActions.h"

#include "platform/fs/AppFolders.h"
#include "platform/fs/Files.h"
#include "platform/json/RawValue.h"
#include "platform/notifications/FileManagerReveal.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"

#include <exception>

namespace velnote {
namespace fs = std::filesystem;

MenuActions::MenuActions(Dependencies d)
    : appState_(d.appState ? *d.appState : AppState::shared()), recorder_(*d.recorder), windows_(*d.windows),
      dependencies_(std::move(d)) {
    if (!dependencies_.apiKeyPresent) {
        dependencies_.apiKeyPresent = [](SummaryProvider provider) { return validateAPIKey(provider); };
    }
    if (!dependencies_.workingSessionsDir) {
        dependencies_.workingSessionsDir = [] { return SessionDirectoryResolver::resolveWorkingDir(); };
    }
    if (!dependencies_.savedSessionsDir) {
        dependencies_.savedSessionsDir = [] { return SessionDirectoryResolver::resolveUserDir(); };
    }
    if (!dependencies_.openFolder) {
        dependencies_.openFolder = [](const fs::path& folder) {
            return platform::FileManagerReveal::openWithDefaultApplication(folder);
        };
    }
}

std::optional<SummaryProvider>
MenuActions::providerMissingAPIKey(const SessionConfig& config,
                                   const std::function<bool(SummaryProvider)>& apiKeyPresent) {
    const auto missing = [&](const std::string& raw) -> std::optional<SummaryProvider> {
        const auto provider = platform::fromRawValue<SummaryProvider>(raw);
        if (provider && !apiKeyPresent(*provider)) {
            return provider;
        }
        return std::nullopt;
    };
    if (const auto provider = missing(config.summary.provider)) {
        return provider;
    }
    if (config.liveSummary.enabled) {
        return missing(config.liveSummary.provider);
    }
    return std::nullopt;
}

void MenuActions::toggleRecording() {
    switch (appState_.recordingState().phase()) {
    case RecordingState::Phase::recording:
        recorder_.stopRecording({});
        return;
    case RecordingState::Phase::starting:
    case RecordingState::Phase::stopping:
    case RecordingState::Phase::error:
        return;
    case RecordingState::Phase::idle:
        break;
    }
    const SessionConfig config = dependencies_.configForNewRecording();
    if (const auto provider = providerMissingAPIKey(config, dependencies_.apiKeyPresent)) {
        appState_.presentError(
            L10n::localized("L10n.Recording.missingAPIKey",
                            "API key for %@ is not configured. Please set it in Preferences.",
                            {label(*provider)}),
            false);
        windows_.preferences->show();
        return;
    }
    recorder_.startRecording({});
}

bool MenuActions::openCreatingFolder(const fs::path& folder) {
    try {
        platform::createDirectories(folder);
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("could not create {}: {}", folder.string(), e.what());
        return false;
    }
    return dependencies_.openFolder(folder);
}

void MenuActions::openWorkingSessionsFolder() {
    bool opened = false;
    try {
        opened = openCreatingFolder(dependencies_.workingSessionsDir());
    } catch (const platform::NoHomeFolderError& e) {
        VelnoteLogger::app().error("{}", e.what());
    }
    if (!opened) {
        appState_.setStatusMessage(
            L10n::localized("L10n.Common.couldNotOpenFolder", "Could not open folder"));
    }
}

void MenuActions::openSavedSessionsFolder() {
    bool opened = false;
    try {
        const ResolvedDirectory resolved = dependencies_.savedSessionsDir();
        opened = openCreatingFolder(resolved.url);
        if (resolved.releaseAccess) {
            resolved.releaseAccess();
        }
    } catch (const platform::NoHomeFolderError& e) {
        VelnoteLogger::app().error("{}", e.what());
    }
    if (!opened) {
        appState_.setStatusMessage(
            L10n::localized("L10n.Common.couldNotOpenFolder", "Could not open folder"));
    }
}

} // namespace velnote
