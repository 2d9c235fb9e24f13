#pragma once

#include "app/state/ErrorAlertPresenter.h"

namespace velnote {

// The critical alert of AppState::presentError as a Qt message box: window-modal on the active
// window (else the first window), application-modal when the application has no window.
//
// Never a nested event loop: the box is opened and this returns at once, in both cases, and
// `dismissed` comes from the event loop when the box closes. A modal loop here would run other
// main-thread jobs (the recording controller's steps among them) from inside whatever job
// presented the error.
class QtErrorAlertPresenter final : public ErrorAlertPresenter {
  public:
    void showCriticalAlert(const Alert& alert, std::function<void()> dismissed) override;
};

} // namespace velnote
