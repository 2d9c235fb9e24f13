#pragma once

#include "app/shell/AppDelegate.h"

namespace velnote {

// The application object as the delegate sees it, over QApplication. A quit request (the menu's
// Quit, a second launch's failed lock, SIGTERM) goes through the delegate: at once when idle, after
// the recording is stopped otherwise; then applicationWillTerminate() and the event loop ends.
// Main thread only.
class QtApplicationHost final : public AppDelegate::Application {
  public:
    // Set once the delegate exists (it needs this object first).
    void setDelegate(AppDelegate* delegate) { delegate_ = delegate; }

    void terminate() override;
    void replyToTerminate() override;
    // Nothing to switch: a tray application has no taskbar entry until one of its windows opens.
    void setAccessoryActivationPolicy() override;
    // No menu bar to install: text widgets bring their own undo, clipboard and select-all
    // shortcuts, and About and Quit are in the tray menu.
    void installMainMenu() override {}
    void reopenWindows() override;

  private:
    void finish();

    AppDelegate* delegate_ = nullptr;
    bool finishing_ = false;
};

} // namespace velnote
