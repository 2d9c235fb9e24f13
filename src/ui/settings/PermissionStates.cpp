#include "ui/settings/PermissionStates.h"

namespace velnote {

SettingsPaneOpener::SettingsPaneOpener(Launcher launcher) : launcher_(std::move(launcher)) {}

std::vector<std::vector<std::string>> SettingsPaneOpener::candidates(PermissionKind kind) {
    switch (kind) {
    case PermissionKind::microphone:
        return {{"gnome-control-center", "sound"},
                {"systemsettings", "kcm_pulseaudio"},
                {"pavucontrol"},
                {"gnome-control-center"},
                {"systemsettings"}};
    case PermissionKind::notifications:
        return {{"gnome-control-center", "notifications"}, {"systemsettings", "kcm_notifications"}};
    case PermissionKind::accessibility:
        return {{"gnome-control-center", "universal-access"},
                {"systemsettings", "kcm_access"},
                {"gnome-control-center"},
                {"systemsettings"}};
    case PermissionKind::screenRecording:
    case PermissionKind::speechRecognition:
        return {{"gnome-control-center", "privacy"}, {"systemsettings"}, {"gnome-control-center"}};
    }
    return {};
}

bool SettingsPaneOpener::open(PermissionKind kind) const {
    for (const auto& command : candidates(kind)) {
        const std::vector<std::string> arguments(command.begin() + 1, command.end());
        if (launcher_(command.front(), arguments)) {
            return true;
        }
    }
    return false;
}

} // namespace velnote
