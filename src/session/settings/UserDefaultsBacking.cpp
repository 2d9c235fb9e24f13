#include "session/settings/UserDefaultsBacking.h"

#include "session/VelnoteLogger.h"
#include "session/settings/UserDefaultsKey.h"

#include <exception>

namespace velnote {
namespace {

using Key = UserDefaultsKey;

constexpr std::string_view kGeminiBaseURL = "geminiBaseURL"; // outside UserDefaultsKey

} // namespace

UserDefaultsBacking::UserDefaultsBacking(platform::SettingsStore& defaults, bool isLiveSummary,
                                         KeychainHelper keychain)
    : defaults_(&defaults), isLiveSummary_(isLiveSummary), keychain_(std::move(keychain)) {
    load();
}

UserDefaultsBacking::StoredKey& UserDefaultsBacking::slot(ProviderAPIKey key) {
    return keys_.at(static_cast<std::size_t>(key));
}

const UserDefaultsBacking::StoredKey& UserDefaultsBacking::slot(ProviderAPIKey key) const {
    return keys_.at(static_cast<std::size_t>(key));
}

std::string UserDefaultsBacking::apiKey(ProviderAPIKey key) const {
    return slot(key).value;
}

void UserDefaultsBacking::setAPIKey(ProviderAPIKey key, std::string value) {
    StoredKey& stored = slot(key);
    if (value == stored.value)
        return;
    stored.value = std::move(value);
    stored.unread = false;
}

void UserDefaultsBacking::load() {
    const auto text = [this](std::string_view key) { return defaults_->string(key).value_or(""); };
    const auto flag = [this](Key key) { return defaults_->boolean(rawValue(key)); };
    const auto string = [&](Key key) { return text(rawValue(key)); };
    const auto variant = [this](Key summary, Key live) { return rawValue(isLiveSummary_ ? live : summary); };
    const Key liveCLIModel = Key::liveSummaryProviderModel;

    ProviderSettingsValues& v = values_;
    v.localSummaryModel =
        defaults_->string(rawValue(Key::localSummaryModel)).value_or("qwen2.5-7b-instruct-mlx-4bit");
    v.localSummaryModelPath = text(variant(Key::localSummaryModelPath, Key::liveSummaryModelPath));
    v.preferDirectSummaryForLlamaCppLocal = flag(Key::preferDirectSummaryForLlamaCppLocal);
    v.preferDirectSummaryForAppleLocalLLM = flag(Key::preferDirectSummaryForAppleLocalLLM);
    v.openAIModel = string(Key::openAIModel);
    v.openAIBaseURL = string(Key::openAIBaseURL);
    v.openRouterModel = text(variant(Key::openRouterModel, Key::liveSummaryOpenRouterModel));
    v.openRouterFreeOnly =
        defaults_->boolean(variant(Key::openRouterFreeOnly, Key::liveSummaryOpenRouterFreeOnly));
    v.copilotModel = string(Key::copilotModel);
    v.copilotBaseURL = string(Key::copilotBaseURL);
    v.claudeModel = string(Key::claudeModel);
    v.claudeBaseURL = string(Key::claudeBaseURL);
    v.claudeCLICommand = string(Key::claudeCLICommand);
    v.claudeCLIModel = text(variant(Key::claudeCLIModel, liveCLIModel));
    v.copilotCLICommand = string(Key::copilotCLICommand);
    v.copilotCLIModel = text(variant(Key::copilotCLIModel, liveCLIModel));
    v.copilotCLIUseACP = flag(Key::copilotCLIUseACP);
    v.antigravityCLICommand = string(Key::antigravityCLICommand);
    v.antigravityCLIArgs = string(Key::antigravityCLIArgs);
    v.antigravityCLIModel = text(variant(Key::antigravityCLIModel, liveCLIModel));
    v.ollamaModel = string(Key::ollamaModel);
    v.ollamaBaseURL = string(Key::ollamaBaseURL);
    v.geminiModel = string(Key::geminiModel);
    v.geminiBaseURL = text(kGeminiBaseURL);

    for (const ProviderAPIKey key : kAllProviderAPIKeys) {
        const platform::SecretRead read = keychain_.read(keychainAccount(key));
        slot(key) = {read.value, read.status == platform::SecretReadStatus::unreadable};
    }
}

void UserDefaultsBacking::saveKey(ProviderAPIKey key) {
    const StoredKey& stored = slot(key);
    if (stored.unread) {
        VelnoteLogger::app().notice("provider settings: unreadable key left untouched account={}",
                                    keychainAccount(key));
        return;
    }
    try {
        keychain_.save(stored.value, keychainAccount(key));
    } catch (const std::exception& error) {
        VelnoteLogger::app().error("Failed to save keychain: {}", error.what());
    }
}

void UserDefaultsBacking::commit(SummaryProvider activeProvider) {
    const ProviderSettingsValues& v = values_;
    const auto set = [this](std::string_view key, platform::SettingsValue value) {
        defaults_->set(key, std::move(value));
    };
    const auto setKey = [&](Key key, platform::SettingsValue value) { set(rawValue(key), std::move(value)); };
    const auto variant = [this](Key summary, Key live) { return rawValue(isLiveSummary_ ? live : summary); };
    // The live summary keeps one model for the command-line tools: the
    // active tool's.
    const auto setCLIModel = [&](SummaryProvider tool, Key summaryKey, const std::string& model) {
        if (!isLiveSummary_)
            setKey(summaryKey, model);
        else if (activeProvider == tool)
            setKey(Key::liveSummaryProviderModel, model);
    };

    setKey(Key::localSummaryModel, v.localSummaryModel);
    set(variant(Key::localSummaryModelPath, Key::liveSummaryModelPath), v.localSummaryModelPath);
    setKey(Key::preferDirectSummaryForLlamaCppLocal, v.preferDirectSummaryForLlamaCppLocal);
    setKey(Key::preferDirectSummaryForAppleLocalLLM, v.preferDirectSummaryForAppleLocalLLM);

    saveKey(ProviderAPIKey::openAI);
    setKey(Key::openAIModel, v.openAIModel);
    setKey(Key::openAIBaseURL, v.openAIBaseURL);

    saveKey(ProviderAPIKey::openRouter);
    set(variant(Key::openRouterModel, Key::liveSummaryOpenRouterModel), v.openRouterModel);
    set(variant(Key::openRouterFreeOnly, Key::liveSummaryOpenRouterFreeOnly), v.openRouterFreeOnly);

    saveKey(ProviderAPIKey::copilot);
    setKey(Key::copilotModel, v.copilotModel);
    setKey(Key::copilotBaseURL, v.copilotBaseURL);

    saveKey(ProviderAPIKey::claude);
    setKey(Key::claudeModel, v.claudeModel);
    setKey(Key::claudeBaseURL, v.claudeBaseURL);
    setKey(Key::claudeCLICommand, v.claudeCLICommand);
    setCLIModel(SummaryProvider::claudeCLI, Key::claudeCLIModel, v.claudeCLIModel);

    setKey(Key::copilotCLICommand, v.copilotCLICommand);
    setCLIModel(SummaryProvider::copilotCLI, Key::copilotCLIModel, v.copilotCLIModel);

    setKey(Key::copilotCLIUseACP, v.copilotCLIUseACP);
    setKey(Key::antigravityCLICommand, v.antigravityCLICommand);
    setKey(Key::antigravityCLIArgs, v.antigravityCLIArgs);
    setCLIModel(SummaryProvider::antigravityCLI, Key::antigravityCLIModel, v.antigravityCLIModel);

    setKey(Key::ollamaModel, v.ollamaModel);
    setKey(Key::ollamaBaseURL, v.ollamaBaseURL);

    saveKey(ProviderAPIKey::gemini);
    setKey(Key::geminiModel, v.geminiModel);
    set(kGeminiBaseURL, v.geminiBaseURL);
}

} // namespace velnote
