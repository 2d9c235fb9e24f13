#pragma once

// Preparing a retry dialog from a session and writing a confirmed one back into its
// "session.json". No state of its own beyond the settings store and keychain it reads; main thread
// in the application, any thread in tests.

#include "platform/settings/SettingsStore.h"
#include "session/config/SummaryProvider.h"
#include "session/folder/SessionMetadata.h"
#include "session/keychain/KeychainHelper.h"
#include "ui/monitor/core/RetryTypes.h"

#include <optional>
#include <string>

namespace velnote {

class RetryPreparation {
  public:
    // The defaults of one summary provider, from the settings.
    struct ProviderDetails {
        std::optional<std::string> model{};
        std::optional<std::string> baseURL{};
        std::optional<std::string> command{}; // the command-line tool to start
        std::optional<std::string> args{};    // its argument template; "{prompt}" stands for the prompt

        bool operator==(const ProviderDetails&) const = default;
    };
    // A prompt to record: its key ("custom" or a preset id) and its text.
    struct PromptResult {
        std::optional<std::string> key{};
        std::string prompt{};

        bool operator==(const PromptResult&) const = default;
    };
    // Everything the configuration edit needs, computed before the metadata lock is taken.
    struct RetrySelectionInput {
        RetryProviderSelectionState state;
        SummaryProvider provider = SummaryProvider::llamaCppLocal;
        ProviderDetails details;
        PromptResult promptResult;
        PromptResult intermediateResult;
    };

    struct Dependencies {
        platform::SettingsStore* settings = nullptr; // nullptr = SettingsStore::standard()
        const KeychainHelper* keychain = nullptr;    // nullptr = the user's keyring
    };

    RetryPreparation(); // the standard settings and the user's keyring
    explicit RetryPreparation(Dependencies dependencies);

    // The dialog's values from the session's configuration; `current` gives what the session does
    // not decide (the intermediate prompt's preset).
    RetryFormValues fromSession(const SessionMetadata& meta, const RetryFormValues& current) const;
    // The dialog's values from the settings, for a session whose file cannot be read.
    RetryFormValues fromDefaults(const SessionStatusSnapshot& snapshot, const RetryFormValues& current) const;

    ProviderDetails providerDetails(SummaryProvider provider) const;
    static PromptResult resolvedPrompt(const RetryProviderSelectionState& state);
    static PromptResult resolvedIntermediatePrompt(const RetryProviderSelectionState& state);

    // The provider to record (an unknown value becomes "local") with its defaults and prompts.
    RetrySelectionInput selectionInput(const RetryProviderSelectionState& state) const;
    // Rewrites the summary, transcription, language and nightly-batch choices of `meta.config`,
    // then resets the steps from the start step on. Nothing else in `meta` changes.
    static void applyRetrySelection(SessionMetadata& meta, const RetrySelectionInput& input);
    static void applyRetryStepState(SessionMetadata& meta, const RetryProviderSelectionState& state);

  private:
    // The text stored under `key`; std::nullopt when the key holds no text.
    std::optional<std::string> text(std::string_view key) const;
    std::optional<std::string> trimmedText(std::string_view key) const;
    std::string textOr(std::string_view key, std::string_view fallback) const;

    platform::SettingsStore& settings_;
    const KeychainHelper* keychain_;
};

} // namespace velnote
