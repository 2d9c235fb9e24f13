#include "session/settings/SessionConfigBacking.h"

#include "platform/json/RawValue.h"
#include "platform/text/Whitespace.h"
#include "session/settings/UserDefaultsKey.h"

#include <type_traits>

namespace velnote {
namespace {

using Key = UserDefaultsKey;

// The members of the active provider's values that the configuration holds;
// null where it holds none. `Values` is ProviderSettingsValues, const or not.
template <class Values> auto fieldsOf(Values& v, SummaryProvider provider) {
    using String = std::conditional_t<std::is_const_v<Values>, const std::string, std::string>;
    struct Fields {
        String* model = nullptr;
        String* baseURL = nullptr;
        String* command = nullptr;
        String* args = nullptr;
    };
    switch (provider) {
    case SummaryProvider::openAI:
        return Fields{&v.openAIModel, &v.openAIBaseURL};
    case SummaryProvider::openRouter:
        return Fields{&v.openRouterModel};
    case SummaryProvider::githubCopilotAPI:
        return Fields{&v.copilotModel, &v.copilotBaseURL};
    case SummaryProvider::claudeAPI:
        return Fields{&v.claudeModel, &v.claudeBaseURL};
    case SummaryProvider::claudeCLI:
        return Fields{&v.claudeCLIModel, nullptr, &v.claudeCLICommand};
    case SummaryProvider::copilotCLI:
        return Fields{&v.copilotCLIModel, nullptr, &v.copilotCLICommand};
    case SummaryProvider::ollama:
        return Fields{&v.ollamaModel, &v.ollamaBaseURL};
    case SummaryProvider::antigravityCLI:
        return Fields{&v.antigravityCLIModel, nullptr, &v.antigravityCLICommand, &v.antigravityCLIArgs};
    case SummaryProvider::geminiAPI:
        return Fields{&v.geminiModel, &v.geminiBaseURL};
    case SummaryProvider::llamaCppLocal:
    case SummaryProvider::appleLocalLLM:
        break;
    }
    return Fields{};
}

// Trimmed; none when missing or blank.
std::optional<std::string> trimmedValue(const std::string* value) {
    if (value == nullptr)
        return std::nullopt;
    std::string trimmed = platform::trimWhitespace(*value);
    if (trimmed.empty())
        return std::nullopt;
    return trimmed;
}

// Nothing is trimmed here: the configuration's values are shown as frozen.
void fillIfNotEmpty(std::string* target, const std::optional<std::string>& value) {
    if (target != nullptr && value && !value->empty())
        *target = *value;
}

} // namespace

SessionConfigBacking::SessionConfigBacking(const SessionConfig& config, bool isLiveSummary,
                                           WriteConfig writeConfig, platform::SettingsStore& defaults,
                                           KeychainHelper keychain)
    : state_(std::make_shared<State>()), writeConfig_(std::move(writeConfig)),
      keychain_(std::move(keychain)) {
    state_->isLiveSummary = isLiveSummary;
    state_->defaults = &defaults;
    const auto text = [&](Key key, std::string_view absent = "") {
        return defaults.string(rawValue(key)).value_or(std::string(absent));
    };
    const auto flag = [&](Key key) { return defaults.boolean(rawValue(key)); };

    ProviderSettingsValues& v = state_->values;
    v.localSummaryModel = config.summary.localModel;
    v.localSummaryModelPath = config.summary.localModelPath.value_or("");
    v.preferDirectSummaryForLlamaCppLocal = config.summary.preferDirectSummaryForLlamaCppLocal;
    v.preferDirectSummaryForAppleLocalLLM = config.summary.preferDirectSummaryForAppleLocalLLM;

    // The global settings are the starting point for every provider.
    v.openAIModel = text(Key::openAIModel);
    v.openAIBaseURL = text(Key::openAIBaseURL);
    v.openRouterModel = text(Key::openRouterModel);
    v.openRouterFreeOnly = flag(isLiveSummary ? Key::liveSummaryOpenRouterFreeOnly : Key::openRouterFreeOnly);
    v.copilotModel = text(Key::copilotModel);
    v.copilotBaseURL = text(Key::copilotBaseURL);
    v.claudeModel = text(Key::claudeModel);
    v.claudeBaseURL = text(Key::claudeBaseURL);
    v.claudeCLICommand = text(Key::claudeCLICommand);
    v.claudeCLIModel = text(Key::claudeCLIModel);
    v.copilotCLICommand = text(Key::copilotCLICommand);
    v.copilotCLIModel = text(Key::copilotCLIModel);
    v.copilotCLIUseACP = flag(Key::copilotCLIUseACP);
    v.antigravityCLICommand = text(Key::antigravityCLICommand);
    v.antigravityCLIArgs = text(Key::antigravityCLIArgs);
    v.antigravityCLIModel = text(Key::antigravityCLIModel);
    v.ollamaModel = text(Key::ollamaModel);
    v.ollamaBaseURL = text(Key::ollamaBaseURL);
    v.geminiModel = text(Key::geminiModel, "gemini-1.5-flash");
    v.geminiBaseURL = defaults.string("geminiBaseURL").value_or("");

    // The session's own values win for the provider it uses.
    const auto active = platform::fromRawValue<SummaryProvider>(isLiveSummary ? config.liveSummary.provider
                                                                              : config.summary.provider);
    if (!active)
        return;
    const auto fields = fieldsOf(v, *active);
    fillIfNotEmpty(fields.model,
                   isLiveSummary ? config.liveSummary.providerModel : config.summary.providerModel);
    if (*active != SummaryProvider::openRouter) {
        fillIfNotEmpty(fields.baseURL,
                       isLiveSummary ? config.liveSummary.providerBaseURL : config.summary.providerBaseURL);
    }
    if (!isLiveSummary) {
        fillIfNotEmpty(fields.command, config.summary.cliCommand);
        fillIfNotEmpty(fields.args, config.summary.cliArgs);
    }
}

std::string SessionConfigBacking::apiKey(ProviderAPIKey key) const {
    return keychain_.load(keychainAccount(key));
}

void SessionConfigBacking::setAPIKey(ProviderAPIKey, std::string) {}

void SessionConfigBacking::commit(SummaryProvider activeProvider) {
    if (!writeConfig_)
        return;
    std::weak_ptr<State> weakState = state_;
    writeConfig_([weakState, activeProvider](SessionConfig& config) {
        if (const auto state = weakState.lock())
            apply(*state, activeProvider, config);
    });
}

void SessionConfigBacking::apply(const State& state, SummaryProvider activeProvider, SessionConfig& config) {
    const ProviderSettingsValues& v = state.values;
    if (!state.isLiveSummary) {
        config.summary.localModel = v.localSummaryModel;
        config.summary.localModelPath =
            v.localSummaryModelPath.empty() ? std::nullopt : std::optional(v.localSummaryModelPath);
        config.summary.preferDirectSummaryForLlamaCppLocal = v.preferDirectSummaryForLlamaCppLocal;
        config.summary.preferDirectSummaryForAppleLocalLLM = v.preferDirectSummaryForAppleLocalLLM;
    }

    const auto fields = fieldsOf(v, activeProvider);
    if (activeProvider == SummaryProvider::openRouter) {
        // No configuration field holds the switch; it stays a global setting.
        const Key key = state.isLiveSummary ? Key::liveSummaryOpenRouterFreeOnly : Key::openRouterFreeOnly;
        state.defaults->set(rawValue(key), v.openRouterFreeOnly);
    }

    if (state.isLiveSummary) {
        config.liveSummary.providerModel = trimmedValue(fields.model);
        config.liveSummary.providerBaseURL = trimmedValue(fields.baseURL);
        return;
    }
    config.summary.providerModel = trimmedValue(fields.model);
    config.summary.providerBaseURL = trimmedValue(fields.baseURL);
    // A blank command or template keeps the frozen one rather than leaving
    // the tool without an invocation.
    if (auto command = trimmedValue(fields.command))
        config.summary.cliCommand = std::move(command);
    if (auto args = trimmedValue(fields.args))
        config.summary.cliArgs = std::move(args);
}

} // namespace velnote
