#include "capture/autodetect/PromptAlertPresenter.h"

#include "session/VelnoteLogger.h"

namespace velnote {
namespace {

class LoggingPromptAlertPresenter final : public PromptAlertPresenter {
  public:
    void showPrompt(const Prompt& prompt, std::function<void(Response)> answered) override {
        VelnoteLogger::app().info("prompt (no window to show it): {}: {}", prompt.title, prompt.message);
        answered(Response::cancelled);
    }
    void dismissPrompt() override {}
};

} // namespace

std::shared_ptr<PromptAlertPresenter> makeLoggingPromptAlertPresenter() {
    return std::make_shared<LoggingPromptAlertPresenter>();
}

} // namespace velnote
