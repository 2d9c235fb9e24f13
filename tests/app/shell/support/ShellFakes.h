#pragma once

#include "app/shell/ShellWindows.h"
#include "app/state/ErrorAlertPresenter.h"
#include "capture/controller/RecordingController.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velnote::testing {

// What the shell's neighbours were asked to do, in order, as short lines.
struct Calls {
    std::vector<std::string> lines;
    void add(std::string line) { lines.push_back(std::move(line)); }
    std::vector<std::string> take() { return std::exchange(lines, {}); }
};

class FakeRecorder final : public RecordingController {
  public:
    explicit FakeRecorder(Calls& calls) : calls_(calls) {}
    void startRecording(StartCompletion) override { calls_.add("start recording"); }
    void stopRecording(Completion) override { calls_.add("stop recording"); }

  private:
    Calls& calls_;
};

class FakeWindow final : public ShowableWindow {
  public:
    FakeWindow(Calls& calls, std::string name) : calls_(calls), name_(std::move(name)) {}
    void show() override { calls_.add("show " + name_); }

  private:
    Calls& calls_;
    std::string name_;
};

class FakeSummaryPreview final : public SummaryPreviewWindows {
  public:
    explicit FakeSummaryPreview(Calls& calls) : calls_(calls) {}
    void show(const SessionStatusSnapshot& session, const SummaryVersion& version) override {
        calls_.add("show preview " + session.dirName);
        shown.push_back(version);
    }
    std::vector<SummaryVersion> shown;

  private:
    Calls& calls_;
};

// Windows that log "show <name>" into `calls`.
inline ShellWindows fakeWindows(Calls& calls, std::shared_ptr<FakeSummaryPreview> preview = nullptr) {
    return ShellWindows{
        .preferences = std::make_shared<FakeWindow>(calls, "preferences"),
        .userDictionary = std::make_shared<FakeWindow>(calls, "user dictionary"),
        .hallucinationFilter = std::make_shared<FakeWindow>(calls, "hallucination filter"),
        .modelManagement = std::make_shared<FakeWindow>(calls, "model management"),
        .sessionMonitor = std::make_shared<FakeWindow>(calls, "session monitor"),
        .about = std::make_shared<FakeWindow>(calls, "about"),
        .summaryPreview = preview ? preview : std::make_shared<FakeSummaryPreview>(calls),
        .recordingWindow = nullptr,
    };
}

// Keeps every alert open until the test closes it.
class HeldAlerts final : public ErrorAlertPresenter {
  public:
    void showCriticalAlert(const Alert& alert, std::function<void()> dismissed) override {
        alerts.push_back(alert);
        closers.push_back(std::move(dismissed));
    }
    std::vector<Alert> alerts;
    std::vector<std::function<void()>> closers;
};

} // namespace velnote::testing
