#pragma once

#include "session/settings/ProviderSettingsBacking.h"
#include "ui/controls/Binding.h"
#include "ui/settings/Observed.h"

#include <array>
#include <functional>
#include <memory>
#include <string>

namespace velnote {

// The 29 provider settings, in the order they are loaded and saved.
enum class ProviderSetting {
    localSummaryModel,
    localSummaryModelPath,
    preferDirectSummaryForLlamaCppLocal, // flag
    preferDirectSummaryForAppleLocalLLM, // flag
    openAIAPIKey,
    openAIModel,
    openAIBaseURL,
    openRouterAPIKey,
    openRouterModel,
    openRouterFreeOnly, // flag
    copilotAPIKey,
    copilotModel,
    copilotBaseURL,
    claudeAPIKey,
    claudeModel,
    claudeBaseURL,
    claudeCLICommand,
    claudeCLIModel,
    copilotCLICommand,
    copilotCLIModel,
    copilotCLIUseACP, // flag
    antigravityCLICommand,
    antigravityCLIArgs,
    antigravityCLIModel,
    ollamaModel,
    ollamaBaseURL,
    geminiAPIKey,
    geminiModel,
    geminiBaseURL,
};
inline constexpr std::size_t kProviderSettingCount = 29;

bool isFlag(ProviderSetting setting);

// The settings of every summary provider at once, for editing: the local model and path, the two
// direct-summary switches, and each remote or command-line provider's key, model, base URL,
// command and switches. It reads and writes them through one backing, fixed for its life: the
// global settings (preferences window, nothing stored before save()) or the running session
// (session settings window, whose autosave action saves after every assignment).
//
// Main thread only; the backing is called on the same thread.
class ProviderSettingsViewModel {
  public:
    // Loads at once; the autosave action is not set yet, so nothing is saved.
    explicit ProviderSettingsViewModel(std::shared_ptr<ProviderSettingsBacking> backing);

    ProviderSettingsBacking& backing() const { return *backing_; }

    // Every value from the backing, through the setters (so 29 autosaves when one is set). Four
    // texts get a default when blank (the three commands, the Gemini model) and the local model
    // too; those and the Antigravity arguments are trimmed. The rest is taken as it comes.
    void load();
    // Every value into the backing as it is, then one commit for `activeProvider`.
    void save(SummaryProvider activeProvider);

    // Runs after every assignment of one of the 29 values, changed or not.
    void setAutoSaveAction(std::function<void()> action) { autoSaveAction_ = std::move(action); }

    const std::string& text(ProviderSetting setting) const;
    bool flag(ProviderSetting setting) const;
    // Stores the value (observers hear only of a real change), then runs the autosave action.
    void setText(ProviderSetting setting, const std::string& value);
    void setFlag(ProviderSetting setting, bool value);

    Binding<std::string> textBinding(ProviderSetting setting);
    Binding<bool> flagBinding(ProviderSetting setting);

    [[nodiscard]] platform::ObserverToken observe(std::function<void()> observer) {
        return observers_.observe(std::move(observer));
    }

  private:
    void afterAssignment(bool changed);

    std::shared_ptr<ProviderSettingsBacking> backing_;
    std::function<void()> autoSaveAction_;
    std::array<std::string, kProviderSettingCount> texts_{}; // flags' slots stay empty
    std::array<bool, kProviderSettingCount> flags_{};        // texts' slots stay false
    ChangeObservers observers_;
};

} // namespace velnote
