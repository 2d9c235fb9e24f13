#include "ui/models/AuxiliaryWindows.h"

#include "ui/models/AboutWindowController.h"
#include "ui/models/ListEditorWindowControllers.h"
#include "ui/models/ModelManagementWindowController.h"
#include "ui/shell/AuxiliaryWindow.h"

namespace velnote {

void installAuxiliaryWindows(ShellWindows& windows) {
    windows.modelManagement =
        makeLazyWindow([]() -> ShowableWindow& { return ModelManagementWindowController::shared(); });
    windows.hallucinationFilter =
        makeLazyWindow([]() -> ShowableWindow& { return HallucinationFilterWindowController::shared(); });
    windows.userDictionary =
        makeLazyWindow([]() -> ShowableWindow& { return UserDictionaryWindowController::shared(); });
    windows.about = makeLazyWindow([]() -> ShowableWindow& { return AboutWindowController::shared(); });
}

} // namespace velnote
