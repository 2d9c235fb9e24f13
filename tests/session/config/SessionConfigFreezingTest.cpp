#include "platform/flavor/BuildFlavor.h"
#include "platform/settings/SettingsStore.h"
#include "session/config/PromptCatalog.h"
#include "session/config/SessionConfig.h"
#include "support/TempDir.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace velnote {
namespace {

using platform::SettingsValue;
using Settings = std::map<std::string, SettingsValue>;

const std::vector<std::string> kOCRLanguages = {"en-US", "fr-FR", "ja-JP"};

const char* const kEnglishLivePrompt =
    "Update a live summary in Markdown from the transcript and OCR context.\n"
    "- Organize by topic using `## Heading` sections, up to 5 bullet lines per section\n"
    "- Prioritize latest updates, decisions, and action items; avoid repeating existing points\n"
    "- Do not speculate; mark unknown items as \"Unconfirmed\"";

// Sets the process-wide flavour for one test and puts the old one back.
class FlavorOverride {
  public:
    explicit FlavorOverride(std::optional<BuildFlavorType> flavor) : previous_(BuildFlavor::testOverride()) {
        BuildFlavor::setTestOverride(flavor);
    }
    ~FlavorOverride() { BuildFlavor::setTestOverride(previous_); }

  private:
    std::optional<BuildFlavorType> previous_;
};

class SessionConfigFreezingTest : public ::testing::Test {
  protected:
    SessionConfig freeze(const Settings& settings) {
        testing::TempDir dir;
        platform::SettingsStore store(dir / "settings.json");
        for (const auto& [key, value] : settings)
            store.set(key, value);
        return SessionConfig::fromUserDefaults(store, kOCRLanguages);
    }

    FlavorOverride flavor_{std::nullopt};
};

TEST_F(SessionConfigFreezingTest, AnEmptyStoreGivesTheDefaults) {
    SessionConfig expected;
    expected.outputLanguage = "en"; // English interface
    expected.transcription = {"medium",     std::nullopt, TranscriptionProvider::localWhisper,
                              std::nullopt, std::nullopt, true,
                              false,        std::nullopt};
    expected.summary.provider = "local";
    expected.summary.promptKey = "minutes";
    expected.summary.resolvedPrompt = PromptCatalog::prompt("minutes");
    expected.summary.intermediatePromptKey = "minutes";
    expected.summary.intermediateResolvedPrompt = PromptCatalog::prompt("minutes");
    expected.summary.localModel = "qwen2.5-7b-instruct-mlx-4bit";
    expected.liveSummary = {true, 5, "local", kEnglishLivePrompt, std::nullopt, std::nullopt, std::nullopt};
    expected.audio = {std::nullopt, 1.0, 1.0};
    expected.capture = {true, 0, true, 1280, {"ja-JP", "en-US", "fr-FR"}, true};
    expected.system.nightlyBatch = false;

    EXPECT_EQ(freeze({}), expected);
}

std::string show(const std::optional<std::string>& value) {
    return value ? "\"" + *value + "\"" : "<none>";
}
std::string show(const std::string& value) {
    return show(std::optional(value));
}
std::string show(const std::optional<std::int64_t>& value) {
    return value ? std::to_string(*value) : "<none>";
}
std::string show(std::int64_t value) {
    return std::to_string(value);
}
std::string show(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}
std::string show(bool value) {
    return value ? "true" : "false";
}
std::string show(TranscriptionProvider provider) {
    return std::string(rawValue(provider));
}

using Field = std::function<std::string(const SessionConfig&)>;
#define FIELD(path) [](const SessionConfig& c) { return show(c.path); }

TEST_F(SessionConfigFreezingTest, ClampsAndNormalisesEachValue) {
    const struct {
        Settings settings;
        Field field;
        std::string expected;
    } cases[] = {
        {{{"liveSummaryIntervalMinutes", 0}}, FIELD(liveSummary.intervalMinutes), "5"},
        {{{"liveSummaryIntervalMinutes", -3}}, FIELD(liveSummary.intervalMinutes), "5"},
        {{{"liveSummaryIntervalMinutes", 1}}, FIELD(liveSummary.intervalMinutes), "1"},
        {{{"liveSummaryIntervalMinutes", 60}}, FIELD(liveSummary.intervalMinutes), "60"},
        {{{"liveSummaryIntervalMinutes", 61}}, FIELD(liveSummary.intervalMinutes), "60"},
        {{{"screenshotEmbedMaxWidth", 320}}, FIELD(capture.screenshotEmbedMaxWidth), "320"},
        {{{"screenshotEmbedMaxWidth", 640}}, FIELD(capture.screenshotEmbedMaxWidth), "640"},
        {{{"screenshotEmbedMaxWidth", 960}}, FIELD(capture.screenshotEmbedMaxWidth), "960"},
        {{{"screenshotEmbedMaxWidth", 641}}, FIELD(capture.screenshotEmbedMaxWidth), "1280"},
        {{{"screenshotEmbedMaxWidth", 0}}, FIELD(capture.screenshotEmbedMaxWidth), "1280"},
        {{{"micInputGain", -1.0}}, FIELD(audio.micInputGain), "1"},
        {{{"micInputGain", 25.0}}, FIELD(audio.micInputGain), "25"},
        {{{"sysInputGain", 0.0}}, FIELD(audio.sysInputGain), "1"},
        {{{"numberOfSpeakers", 0}}, FIELD(transcription.numberOfSpeakers), "<none>"},
        {{{"numberOfSpeakers", 3}}, FIELD(transcription.numberOfSpeakers), "3"},
        {{{"screenshotDisplayIndex", 2}}, FIELD(capture.screenshotDisplayIndex), "2"},
        {{{"whisperModel", ""}}, FIELD(transcription.whisperModel), "\"\""},
        {{{"inputLanguage", " ja_JP "}}, FIELD(transcription.language), "\" ja_JP \""},
        {{{"outputLanguage", "fr"}}, FIELD(outputLanguage), "\"fr\""},
        {{{"transcriptionProvider", "openai"}}, FIELD(transcription.provider), "openai"},
        {{{"transcriptionProvider", " openai"}}, FIELD(transcription.provider), "local"},
        {{{"transcriptionProviderModel", " whisper-1\n"}},
         FIELD(transcription.providerModel),
         "\"whisper-1\""},
        {{{"transcriptionProviderBaseURL", " http://127.0.0.1:8/v1 "}},
         FIELD(transcription.providerBaseURL),
         "\"http://127.0.0.1:8/v1\""},
        {{{"transcriptionProviderBaseURL", "  "}}, FIELD(transcription.providerBaseURL), "<none>"},
        {{{"micDeviceUID", "  "}}, FIELD(audio.micDeviceUID), "<none>"},
        {{{"localSummaryModelPath", " /m/q.gguf "}}, FIELD(summary.localModelPath), "\"/m/q.gguf\""},
        {{{"liveSummaryPrompt", "  Be brief. "}}, FIELD(liveSummary.prompt), "\"Be brief.\""},
        {{{"liveSummaryPrompt", " \n "}}, FIELD(liveSummary.prompt), show(std::string(kEnglishLivePrompt))},
        // Switches read as objects: a non-bool gives the default, 0 and 1 count.
        {{{"realtimeEnabled", "no"}}, FIELD(transcription.realtimeEnabled), "true"},
        {{{"realtimeEnabled", 0}}, FIELD(transcription.realtimeEnabled), "false"},
        {{{"screenshotEnabled", false}}, FIELD(capture.screenshotEnabled), "false"},
        {{{"preferDirectSummaryForLlamaCppLocal", "yes"}},
         FIELD(summary.preferDirectSummaryForLlamaCppLocal),
         "false"},
        {{{"preferDirectSummaryForAppleLocalLLM", true}},
         FIELD(summary.preferDirectSummaryForAppleLocalLLM),
         "true"},
        {{{"enableDiarization", "YES"}}, FIELD(transcription.diarizationEnabled), "true"},
        {{{"nightlyBatch", true}}, FIELD(system.nightlyBatch), "true"},
        {{{"nightlyBatch", true}, {"sessionNightlyBatchDefault", false}},
         FIELD(system.nightlyBatch),
         "false"},
        {{{"sessionNightlyBatchDefault", "1"}}, FIELD(system.nightlyBatch), "true"},
        // Prompts.
        {{{"summaryPromptMode", "custom"}, {"summaryPromptCustom", "   "}},
         FIELD(summary.promptKey),
         "\"minutes\""},
        {{{"summaryPromptMode", "Custom"}, {"summaryPromptCustom", "Mine"}},
         FIELD(summary.promptKey),
         "\"minutes\""},
        {{{"summaryPromptMode", "custom"}, {"summaryPromptCustom", " Mine\n"}},
         FIELD(summary.resolvedPrompt),
         "\"Mine\""},
        {{{"summaryPromptPreset", "nonsense"}}, FIELD(summary.promptKey), "\"minutes\""},
        {{{"intermediatePromptPreset", "worklog"}},
         FIELD(summary.intermediateResolvedPrompt),
         show(PromptCatalog::prompt("worklog"))},
    };
    for (const auto& c : cases) {
        const std::string first = c.settings.begin()->first;
        EXPECT_EQ(c.field(freeze(c.settings)), c.expected) << first;
    }
}

TEST_F(SessionConfigFreezingTest, ResolvesTheProvidersAndTheirDetails) {
    const struct {
        const char* name;
        Settings settings;
        Field field;
        std::string expected;
    } cases[] = {
        {"trimmed provider", {{"summaryProvider", "  openai\n"}}, FIELD(summary.provider), "\"openai\""},
        {"its default model",
         {{"summaryProvider", "  openai\n"}},
         FIELD(summary.providerModel),
         "\"gpt-4.1-mini\""},
        {"its endpoint",
         {{"summaryProvider", "openai"}},
         FIELD(summary.providerBaseURL),
         "\"https://api.openai.com\""},
        {"model trimmed",
         {{"summaryProvider", "openai"}, {"openAIModel", " gpt-x \n"}},
         FIELD(summary.providerModel),
         "\"gpt-x\""},
        {"unknown provider", {{"summaryProvider", "OpenAI"}}, FIELD(summary.provider), "\"local\""},
        {"blank provider", {{"summaryProvider", " "}}, FIELD(summary.provider), "\"local\""},
        {"ollama endpoint",
         {{"summaryProvider", "ollama"}},
         FIELD(summary.providerBaseURL),
         "\"http://localhost:11434\""},
        {"ollama own endpoint",
         {{"summaryProvider", "ollama"}, {"ollamaBaseURL", " http://10.0.0.2:11434 "}},
         FIELD(summary.providerBaseURL),
         "\"http://10.0.0.2:11434\""},
        {"gemini own endpoint",
         {{"summaryProvider", "gemini"}, {"geminiBaseURL", " http://127.0.0.1:7 "}},
         FIELD(summary.providerBaseURL),
         "\"http://127.0.0.1:7\""},
        {"copilot command", {{"summaryProvider", "copilot_cli"}}, FIELD(summary.cliCommand), "\"copilot\""},
        {"antigravity empty args",
         {{"summaryProvider", "antigravity_cli"}, {"antigravityCLIArgs", ""}},
         FIELD(summary.cliArgs),
         "\"\""},
        {"antigravity default args",
         {{"summaryProvider", "antigravity_cli"}},
         FIELD(summary.cliArgs),
         "\"-p {prompt} --dangerously-skip-permissions\""},
        {"stored command ignored",
         {{"summaryProvider", "claude_cli"}, {"claudeCLICommand", "/opt/claude"}},
         FIELD(summary.cliCommand),
         "\"claude\""},
        {"local has no model", {{"openAIModel", "gpt-x"}}, FIELD(summary.providerModel), "<none>"},
        // The live summary.
        {"live follows summary", {{"summaryProvider", "openai"}}, FIELD(liveSummary.provider), "\"openai\""},
        {"live follows summary model",
         {{"summaryProvider", "openai"}},
         FIELD(liveSummary.providerModel),
         "\"gpt-4.1-mini\""},
        {"live empty is local",
         {{"summaryProvider", "openai"}, {"liveSummaryProvider", ""}},
         FIELD(liveSummary.provider),
         "\"local\""},
        {"live openrouter blank override",
         {{"liveSummaryProvider", "openrouter"},
          {"liveSummaryOpenRouterModel", "  "},
          {"openRouterModel", " m1 "}},
         FIELD(liveSummary.providerModel),
         "\"m1\""},
        {"live openrouter default",
         {{"liveSummaryProvider", "openrouter"}},
         FIELD(liveSummary.providerModel),
         "\"nvidia/nemotron-3-nano-omni-30b-a3b-reasoning:free\""},
        {"live openrouter override",
         {{"liveSummaryProvider", "openrouter"},
          {"liveSummaryOpenRouterModel", " m2\n"},
          {"openRouterModel", "m1"}},
         FIELD(liveSummary.providerModel),
         "\"m2\""},
        {"live openrouter endpoint",
         {{"liveSummaryProvider", "openrouter"}, {"liveSummaryOpenRouterModel", "m2"}},
         FIELD(liveSummary.providerBaseURL),
         "\"https://openrouter.ai/api\""},
        {"live cli uses live model",
         {{"liveSummaryProvider", "claude_cli"},
          {"liveSummaryProviderModel", " haiku "},
          {"claudeCLIModel", "opus"}},
         FIELD(liveSummary.providerModel),
         "\"haiku\""},
        {"live cli falls back to summary model",
         {{"liveSummaryProvider", "claude_cli"},
          {"liveSummaryProviderModel", " "},
          {"claudeCLIModel", "opus"}},
         FIELD(liveSummary.providerModel),
         "\"opus\""},
        {"live cli override only for cli",
         {{"liveSummaryProvider", "openai"}, {"liveSummaryProviderModel", "haiku"}},
         FIELD(liveSummary.providerModel),
         "\"gpt-4.1-mini\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.field(freeze(c.settings)), c.expected) << c.name;
    }
}

TEST_F(SessionConfigFreezingTest, OnlyTheStoreFlavourTurnsCommandLineToolsIntoTheLocalProvider) {
    const Settings settings = {{"summaryProvider", "claude_cli"}, {"liveSummaryProvider", "copilot_cli"}};
    // Only the flavour value decides, not whether this process runs sandboxed.
    testing::TempDir sandbox;
    std::ofstream(sandbox / "flatpak-info") << "[Application]\n";
    const auto previousMarker = BuildFlavor::sandboxMarkerPath();
    BuildFlavor::setSandboxMarkerPath(sandbox / "flatpak-info");
    for (const auto flavor : {std::optional<BuildFlavorType>(), std::optional(BuildFlavorType::direct)}) {
        FlavorOverride override(flavor);
        const SessionConfig config = freeze(settings);
        EXPECT_EQ(config.summary.provider, "claude_cli");
        EXPECT_EQ(config.summary.cliCommand, "claude");
        EXPECT_EQ(config.summary.cliArgs, "--print");
        EXPECT_EQ(config.summary.providerModel, std::nullopt);
        EXPECT_EQ(config.liveSummary.provider, "copilot_cli");
    }
    BuildFlavor::setSandboxMarkerPath(previousMarker);
    {
        FlavorOverride override(BuildFlavorType::direct);
        EXPECT_EQ(
            freeze({{"summaryProvider", "claude_cli"}, {"claudeCLIModel", " sonnet "}}).summary.providerModel,
            "sonnet");
    }

    FlavorOverride store(BuildFlavorType::appStore);
    const SessionConfig config = freeze(settings);
    EXPECT_EQ(config.summary.provider, "local");
    EXPECT_EQ(config.summary.cliCommand, std::nullopt);
    EXPECT_EQ(config.summary.cliArgs, std::nullopt);
    EXPECT_EQ(config.summary.providerModel, std::nullopt);
    EXPECT_EQ(config.liveSummary.provider, "local");
    // API providers are not the sandbox's concern.
    EXPECT_EQ(freeze({{"summaryProvider", "gemini"}}).summary.provider, "gemini");
}

TEST_F(SessionConfigFreezingTest, RecognitionLanguagesFollowTheInputLanguage) {
    EXPECT_EQ(freeze({{"inputLanguage", "en"}}).capture.ocrRecognitionLanguages,
              (std::vector<std::string>{"en-US", "fr-FR", "ja-JP"}));
    EXPECT_EQ(freeze({{"inputLanguage", "auto"}}).capture.ocrRecognitionLanguages,
              (std::vector<std::string>{"ja-JP", "en-US", "fr-FR"}));
}

} // namespace
} // namespace velnote
