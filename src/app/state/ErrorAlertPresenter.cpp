#include "app/state/ErrorAlertPresenter.h"

#include "session/VelnoteLogger.h"

namespace velnote {
namespace {

class LoggingErrorAlertPresenter final : public ErrorAlertPresenter {
  public:
    void showCriticalAlert(const Alert& alert, std::function<void()> dismissed) override {
        VelnoteLogger::app().error("{}: {}", alert.title, alert.message);
        // Nobody can close an alert nobody sees; treating it as closed keeps a fatal error from
        // leaving the recorder stuck in the error state.
        dismissed();
    }
};

} // namespace

std::shared_ptr<ErrorAlertPresenter> makeLoggingErrorAlertPresenter() {
    return std::make_shared<LoggingErrorAlertPresenter>();
}

} // namespace velnote
