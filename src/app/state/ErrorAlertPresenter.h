#pragma once

#include <functional>
#include <memory>
#include <string>

namespace velnote {

// Shows the critical alert of an error that needs the user's attention. The application shell
// binds a Qt dialog; until then (and without any display) the alert is only logged.
class ErrorAlertPresenter {
  public:
    struct Alert {
        std::string title;
        std::string message;
        std::string buttonTitle; // the only button
    };

    virtual ~ErrorAlertPresenter() = default;

    // Shows `alert` in the critical style: as a sheet on the key window, else on the first
    // window, else as an application-modal dialog. Calls `dismissed` exactly once, on the main
    // thread, when the alert is closed in any way: possibly before this call returns (the logging
    // presenter), or later from the event loop (the Qt alert never runs a nested loop).
    virtual void showCriticalAlert(const Alert& alert, std::function<void()> dismissed) = 0;
};

// Logs the alert at error level in the "app" category and counts it as closed at once.
std::shared_ptr<ErrorAlertPresenter> makeLoggingErrorAlertPresenter();

} // namespace velnote
