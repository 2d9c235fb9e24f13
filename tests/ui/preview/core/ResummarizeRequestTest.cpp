#include "ui/preview/core/ResummarizeRequest.h"

#include "platform/settings/SettingsStore.h"
#include "session/folder/SessionMetadataStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using testing::TempDir;

SessionMetadata storedSession() {
    SessionMetadata metadata;
    metadata.config.summary.provider = "local";
    metadata.config.summary.providerBaseURL = "http://127.0.0.1:1/v1";
    metadata.config.summary.cliCommand = "old-cli";
    metadata.config.summary.cliArgs = "old args";
    metadata.config.summary.userNote = "old note";
    metadata.steps.summary = StepState{StepStatus::failed, {}, {}, "boom", 2};
    metadata.steps.transcription = StepState::fresh(StepStatus::done);
    metadata.summaryHeadline = "Headline";
    metadata.summaryFallbackOccurred = true;
    metadata.manuallyStopped = true;
    return metadata;
}

struct EditCase {
    const char* name;
    ResummarizeSelections selections;
    std::vector<std::pair<UserDefaultsKey, std::string>> settings;
    // Expected summary configuration members.
    std::optional<std::string> providerModel;
    std::optional<std::string> providerBaseURL;
    std::optional<std::string> cliCommand;
    std::optional<std::string> cliArgs;
};

void PrintTo(const EditCase& c, std::ostream* os) {
    *os << c.name;
}

class ResummarizeEdit : public ::testing::TestWithParam<EditCase> {
  protected:
    TempDir dir_;
    platform::SettingsStore store_{dir_ / "settings.json"};
};

TEST_P(ResummarizeEdit, WritesTheSummaryConfigurationByProviderKind) {
    const EditCase& c = GetParam();
    UserDefaults defaults(store_);
    for (const auto& [key, value] : c.settings)
        defaults.set(key, value);
    SessionMetadata metadata = storedSession();
    const SummaryProvider kind = ResummarizeRequest::kind(c.selections);
    ResummarizeRequest::apply(metadata, c.selections, kind, ResummarizeRequest::cliModel(c.selections, kind),
                              defaults);

    const SummaryConfig& summary = metadata.config.summary;
    EXPECT_EQ(summary.provider, c.selections.selectedProvider);
    EXPECT_EQ(summary.providerModel, c.providerModel);
    EXPECT_EQ(summary.providerBaseURL, c.providerBaseURL);
    EXPECT_EQ(summary.cliCommand, c.cliCommand);
    EXPECT_EQ(summary.cliArgs, c.cliArgs);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ResummarizeEdit,
    ::testing::Values(
        EditCase{"remote provider trims its model and drops an empty base URL",
                 {.selectedProvider = "openai",
                  .selectedProviderModel = "  gpt-4.1-mini \n",
                  .selectedProviderBaseURL = " "},
                 {},
                 "gpt-4.1-mini",
                 std::nullopt,
                 "old-cli",
                 "old args"},
        EditCase{"claude command line without model or command setting",
                 {.selectedProvider = "claude_cli", .selectedProviderModel = "ignored"},
                 {},
                 std::nullopt,
                 "http://127.0.0.1:1/v1",
                 "claude",
                 "--print"},
        EditCase{"claude command line with its model and command",
                 {.selectedProvider = "claude_cli", .selectedClaudeCLIModel = " sonnet "},
                 {{UserDefaultsKey::claudeCLICommand, "/opt/claude"}},
                 "sonnet",
                 "http://127.0.0.1:1/v1",
                 "/opt/claude",
                 "--print"},
        EditCase{
            "copilot arguments are fixed whatever the settings",
            {.selectedProvider = "copilot_cli", .selectedCopilotCLIModel = "gpt-5"},
            {{UserDefaultsKey::copilotCLIArgs, "--custom"}, {UserDefaultsKey::copilotCLICommand, ""}},
            "gpt-5",
            "http://127.0.0.1:1/v1",
            "copilot",
            "--prompt {prompt} --allow-all-tools --output-format text --silent --no-custom-instructions"},
        EditCase{"antigravity keeps a stored empty argument setting, not an empty command",
                 {.selectedProvider = "antigravity_cli", .selectedAntigravityCLIModel = "m"},
                 {{UserDefaultsKey::antigravityCLIArgs, ""}, {UserDefaultsKey::antigravityCLICommand, ""}},
                 "m",
                 "http://127.0.0.1:1/v1",
                 "agy",
                 ""},
        EditCase{"antigravity default arguments",
                 {.selectedProvider = "antigravity_cli"},
                 {},
                 std::nullopt,
                 "http://127.0.0.1:1/v1",
                 "agy",
                 "-p {prompt} --dangerously-skip-permissions"},
        EditCase{"unknown provider is written as held, with the panel's model and base URL",
                 {.selectedProvider = "future_ai ",
                  .selectedProviderModel = "x",
                  .selectedProviderBaseURL = "http://127.0.0.1:2"},
                 {},
                 "x",
                 "http://127.0.0.1:2",
                 "old-cli",
                 "old args"}));

TEST(ResummarizeRequest, ResetsTheSummaryStepAndNoteAndKeepsEverythingElse) {
    TempDir dir;
    platform::SettingsStore store(dir / "settings.json");
    const SessionMetadata before = storedSession();
    SessionMetadata after = before;
    ResummarizeSelections selections{.userNote = " \n\t ", .selectedProvider = "gemini"};
    ResummarizeRequest::apply(after, selections, ResummarizeRequest::kind(selections), "",
                              UserDefaults(store));

    EXPECT_EQ(after.steps.summary, StepState::fresh(StepStatus::pending));
    EXPECT_FALSE(after.manuallyStopped);
    EXPECT_EQ(after.config.summary.userNote, "");
    SessionMetadata expected = before;
    expected.config.summary.provider = "gemini";
    expected.config.summary.providerModel = std::nullopt;
    expected.config.summary.providerBaseURL = std::nullopt;
    expected.config.summary.userNote = "";
    expected.steps.summary = after.steps.summary;
    expected.manuallyStopped = false;
    EXPECT_EQ(after, expected);
}

TEST(ResummarizeRequest, MissingSessionFileThrowsAndCreatesNothing) {
    TempDir dir;
    platform::SettingsStore store(dir / "settings.json");
    std::filesystem::create_directory(dir / "session");
    ResummarizeSelections selections{.selectedProvider = "openai"};
    EXPECT_ANY_THROW(ResummarizeRequest::applyResummarizeMetadataUpdate(
        dir / "session", selections, SummaryProvider::openAI, "", UserDefaults(store)));
    EXPECT_FALSE(std::filesystem::exists(dir / "session" / "session.json"));
}

TEST(ResummarizeRequest, PresetsThePanelFromTheSessionOrFromTheSettings) {
    TempDir dir;
    platform::SettingsStore store(dir / "settings.json");
    UserDefaults defaults(store);
    defaults.set(UserDefaultsKey::copilotCLIModel, "copilot-setting");
    defaults.set(UserDefaultsKey::summaryProvider, "ollama");
    SessionMetadata metadata = storedSession();
    metadata.config.summary.provider = "claude_cli";
    metadata.config.summary.providerModel = "opus";
    const auto session = dir / "session";
    std::filesystem::create_directory(session);
    SessionMetadataStore::write(metadata, session);

    ResummarizeSelections selections{.userNote = "kept"};
    ResummarizeRequest::loadProviderFromMeta(session, defaults, selections);
    EXPECT_EQ(selections, (ResummarizeSelections{.userNote = "kept",
                                                 .selectedProvider = "claude_cli",
                                                 .selectedClaudeCLIModel = "opus",
                                                 .selectedCopilotCLIModel = "copilot-setting",
                                                 .selectedAntigravityCLIModel = "",
                                                 .selectedProviderModel = "opus",
                                                 .selectedProviderBaseURL = "http://127.0.0.1:1/v1"}));

    std::filesystem::remove(session / "session.json");
    ResummarizeSelections unread{.selectedProviderModel = "stays"};
    ResummarizeRequest::loadProviderFromMeta(session, defaults, unread);
    EXPECT_EQ(unread,
              (ResummarizeSelections{.selectedProvider = "ollama", .selectedProviderModel = "stays"}));
    defaults.removeObject(UserDefaultsKey::summaryProvider);
    ResummarizeRequest::loadProviderFromMeta(session, defaults, unread);
    EXPECT_EQ(unread.selectedProvider, "local");
}

} // namespace
} // namespace velnote
