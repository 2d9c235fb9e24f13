#include "ui/settings/ProviderSettingsViewModel.h"

#include "platform/text/Whitespace.h"

#include <optional>

namespace velnote {
namespace {

using S = ProviderSetting;

std::size_t slot(ProviderSetting setting) {
    return static_cast<std::size_t>(setting);
}

// Where a setting lives in the backing: a text or flag of its values, or an API key.
std::string ProviderSettingsValues::*textMember(ProviderSetting setting) {
    using V = ProviderSettingsValues;
    switch (setting) {
    case S::localSummaryModel:
        return &V::localSummaryModel;
    case S::localSummaryModelPath:
        return &V::localSummaryModelPath;
    case S::openAIModel:
        return &V::openAIModel;
    case S::openAIBaseURL:
        return &V::openAIBaseURL;
    case S::openRouterModel:
        return &V::openRouterModel;
    case S::copilotModel:
        return &V::copilotModel;
    case S::copilotBaseURL:
        return &V::copilotBaseURL;
    case S::claudeModel:
        return &V::claudeModel;
    case S::claudeBaseURL:
        return &V::claudeBaseURL;
    case S::claudeCLICommand:
        return &V::claudeCLICommand;
    case S::claudeCLIModel:
        return &V::claudeCLIModel;
    case S::copilotCLICommand:
        return &V::copilotCLICommand;
    case S::copilotCLIModel:
        return &V::copilotCLIModel;
    case S::antigravityCLICommand:
        return &V::antigravityCLICommand;
    case S::antigravityCLIArgs:
        return &V::antigravityCLIArgs;
    case S::antigravityCLIModel:
        return &V::antigravityCLIModel;
    case S::ollamaModel:
        return &V::ollamaModel;
    case S::ollamaBaseURL:
        return &V::ollamaBaseURL;
    case S::geminiModel:
        return &V::geminiModel;
    case S::geminiBaseURL:
        return &V::geminiBaseURL;
    default:
        return nullptr;
    }
}

bool ProviderSettingsValues::*flagMember(ProviderSetting setting) {
    using V = ProviderSettingsValues;
    switch (setting) {
    case S::preferDirectSummaryForLlamaCppLocal:
        return &V::preferDirectSummaryForLlamaCppLocal;
    case S::preferDirectSummaryForAppleLocalLLM:
        return &V::preferDirectSummaryForAppleLocalLLM;
    case S::openRouterFreeOnly:
        return &V::openRouterFreeOnly;
    case S::copilotCLIUseACP:
        return &V::copilotCLIUseACP;
    default:
        return nullptr;
    }
}

std::optional<ProviderAPIKey> apiKey(ProviderSetting setting) {
    switch (setting) {
    case S::openAIAPIKey:
        return ProviderAPIKey::openAI;
    case S::openRouterAPIKey:
        return ProviderAPIKey::openRouter;
    case S::copilotAPIKey:
        return ProviderAPIKey::copilot;
    case S::claudeAPIKey:
        return ProviderAPIKey::claude;
    case S::geminiAPIKey:
        return ProviderAPIKey::gemini;
    default:
        return std::nullopt;
    }
}

// The loading rule of a text: trimmed, with a default when that leaves nothing (an empty
// default keeps it empty); none for the texts taken exactly as the backing gives them.
std::optional<std::string> defaultWhenBlank(ProviderSetting setting) {
    switch (setting) {
    case S::localSummaryModel:
        return "qwen2.5-7b-instruct-mlx-4bit";
    case S::claudeCLICommand:
        return "claude";
    case S::copilotCLICommand:
        return "copilot";
    case S::antigravityCLICommand:
        return "agy";
    case S::antigravityCLIArgs:
        return "";
    case S::geminiModel:
        return "gemini-1.5-flash";
    default:
        return std::nullopt;
    }
}

} // namespace

bool isFlag(ProviderSetting setting) {
    return flagMember(setting) != nullptr;
}

ProviderSettingsViewModel::ProviderSettingsViewModel(std::shared_ptr<ProviderSettingsBacking> backing)
    : backing_(std::move(backing)) {
    load();
}

void ProviderSettingsViewModel::load() {
    for (std::size_t i = 0; i < kProviderSettingCount; ++i) {
        const auto setting = static_cast<ProviderSetting>(i);
        if (const auto member = flagMember(setting)) {
            setFlag(setting, backing_->values().*member);
            continue;
        }
        const auto key = apiKey(setting);
        std::string value = key ? backing_->apiKey(*key) : backing_->values().*textMember(setting);
        if (const auto fallback = defaultWhenBlank(setting)) {
            value = platform::trimWhitespace(value);
            if (value.empty()) {
                value = *fallback;
            }
        }
        setText(setting, value);
    }
}

void ProviderSettingsViewModel::save(SummaryProvider activeProvider) {
    for (std::size_t i = 0; i < kProviderSettingCount; ++i) {
        const auto setting = static_cast<ProviderSetting>(i);
        if (const auto member = flagMember(setting)) {
            backing_->values().*member = flags_[i];
        } else if (const auto key = apiKey(setting)) {
            backing_->setAPIKey(*key, texts_[i]);
        } else {
            backing_->values().*textMember(setting) = texts_[i];
        }
    }
    backing_->commit(activeProvider);
}

const std::string& ProviderSettingsViewModel::text(ProviderSetting setting) const {
    return texts_[slot(setting)];
}

bool ProviderSettingsViewModel::flag(ProviderSetting setting) const {
    return flags_[slot(setting)];
}

void ProviderSettingsViewModel::setText(ProviderSetting setting, const std::string& value) {
    std::string& stored = texts_[slot(setting)];
    const bool changed = stored != value;
    stored = value;
    afterAssignment(changed);
}

void ProviderSettingsViewModel::setFlag(ProviderSetting setting, bool value) {
    bool& stored = flags_[slot(setting)];
    const bool changed = stored != value;
    stored = value;
    afterAssignment(changed);
}

void ProviderSettingsViewModel::afterAssignment(bool changed) {
    if (changed) {
        observers_.notify();
    }
    if (autoSaveAction_) {
        // A copy: the action may replace itself (a window that builds its models anew).
        const auto action = autoSaveAction_;
        action();
    }
}

Binding<std::string> ProviderSettingsViewModel::textBinding(ProviderSetting setting) {
    return Binding<std::string>([this, setting] { return text(setting); },
                                [this, setting](const std::string& value) { setText(setting, value); });
}

Binding<bool> ProviderSettingsViewModel::flagBinding(ProviderSetting setting) {
    return Binding<bool>([this, setting] { return flag(setting); },
                         [this, setting](bool value) { setFlag(setting, value); });
}

} // namespace velnote
