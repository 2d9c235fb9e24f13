#pragma once

#include "capture/autodetect/PromptAlertPresenter.h"

#include <QPointer>

class QMessageBox;

namespace velnote {

// The two-button question of microphone auto-detection as a Qt message box: window-modal on the
// first visible window that is not a panel, else application-modal; the application's windows
// come forward with it. Returns at once (no nested event loop); the answer comes from the event
// loop. Main thread.
class QtPromptAlertPresenter final : public PromptAlertPresenter {
  public:
    ~QtPromptAlertPresenter() override;
    void showPrompt(const Prompt& prompt, std::function<void(Response)> answered) override;
    void dismissPrompt() override;

  private:
    QPointer<QMessageBox> box_; // the prompt on screen
};

} // namespace velnote
