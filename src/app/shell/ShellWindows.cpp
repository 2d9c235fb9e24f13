#include "app/shell/ShellWindows.h"

#include "session/VelnoteLogger.h"

namespace velnote {
namespace {

class UnavailableWindow final : public ShowableWindow {
  public:
    explicit UnavailableWindow(std::string name) : name_(std::move(name)) {}
    void show() override { VelnoteLogger::app().notice("{} window is not available yet", name_); }

  private:
    std::string name_;
};

class UnavailableSummaryPreview final : public SummaryPreviewWindows {
  public:
    void show(const SessionStatusSnapshot& session, const SummaryVersion& version) override {
        VelnoteLogger::app().notice("summary preview window is not available yet ({}, {})", session.dirName,
                                    version.url.string());
    }
};

} // namespace

std::shared_ptr<ShowableWindow> makeUnavailableWindow(std::string name) {
    return std::make_shared<UnavailableWindow>(std::move(name));
}

ShellWindows ShellWindows::standIns() {
    return ShellWindows{
        .preferences = makeUnavailableWindow("preferences"),
        .userDictionary = makeUnavailableWindow("user dictionary"),
        .hallucinationFilter = makeUnavailableWindow("hallucination filter"),
        .modelManagement = makeUnavailableWindow("model management"),
        .sessionMonitor = makeUnavailableWindow("session status"),
        .about = makeUnavailableWindow("about"),
        .summaryPreview = std::make_shared<UnavailableSummaryPreview>(),
        .recordingWindow = nullptr,
    };
}

} // namespace velnote
