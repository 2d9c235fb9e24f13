#pragma once

#include <functional>
#include <memory>
#include <string>

namespace velnote {

// Shows a question with two buttons, confirm and cancel, that the program itself may close. The
// application shell binds a Qt dialog; until then prompts are only logged and count as cancelled.
class PromptAlertPresenter {
  public:
    struct Prompt {
        std::string title;
        std::string message;
        std::string confirmTitle; // the first button
        std::string cancelTitle;  // the second button
    };
    enum class Response { confirmed, cancelled };

    virtual ~PromptAlertPresenter() = default;

    // Brings the application to the front and shows `prompt` in the informational style: as a
    // sheet on the first visible window that is not a panel, else as an application-modal dialog.
    // Calls `answered` exactly once, on the main thread, when the prompt closes in any way: possibly
    // before this call returns (the logging presenter), or later from the event loop (the Qt prompt).
    virtual void showPrompt(const Prompt& prompt, std::function<void(Response)> answered) = 0;
    // Closes the prompt on screen, if any, as if cancelled: its `answered` gets `cancelled`.
    virtual void dismissPrompt() = 0;
};

// Logs each prompt at info level in the "app" category and answers it `cancelled` at once.
std::shared_ptr<PromptAlertPresenter> makeLoggingPromptAlertPresenter();

} // namespace velnote
