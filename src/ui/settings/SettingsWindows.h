#pragma once

#include "app/shell/ShellWindows.h"
#include "ui/settings/SessionSettingsState.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velnote {

// What the settings windows reach of the services a recording runs; the application binds them
// when it installs the windows. An action left empty is skipped.
struct SettingsWindowServices {
    std::function<std::vector<AvailableDisplay>()> enumerateDisplays{};
    std::function<void(std::optional<std::string> language)> updateInputLanguage{};
    std::function<void(const std::string& language)> updateLiveSummaryOutputLanguage{};
    std::function<void(const LiveSummaryProviderUpdate&)> updateLiveSummaryProvider{};
};

// Puts the preferences window into `windows` and makes the session settings window the shared
// one (SessionSettingsWindowController::shared()). Both are built on first show. Main thread.
void installSettingsWindows(ShellWindows& windows, SettingsWindowServices services);

} // namespace velnote
