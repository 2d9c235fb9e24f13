#include "platform/concurrency/CancellationError.h"
#include "platform/concurrency/ManualClock.h"
#include "platform/flavor/BuildFlavor.h"
#include "platform/fs/Files.h"
#include "platform/json/Json.h"
#include "providers/core/RemoteAISummarizationError.h"
#include "providers/support/FakeChatServer.h"
#include "providers/support/ProviderTestEnvironment.h"
#include "session/config/PromptCatalog.h"
#include "session/folder/SessionMetadataStore.h"
#include "summary/core/NativeSummarizationError.h"
#include "summary/service/LocalSummarizationService.h"
#include "summary/service/SummaryPromptAssembly.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velnote {
namespace {

namespace fs = std::filesystem;
using testing::CannedReply;

const std::string kAnswer =
    R"({"title":"Weekly sync","sections":[{"heading":"Overview","format":"markdown","content":"The budget was agreed."}]})";

class SummaryStepTest : public ::testing::Test {
  protected:
    SummaryStepTest() {
        env.setKey("openAIAPIKey", "sk-test");
        server.reply(testing::openAIAnswer(kAnswer));
        config.outputLanguage = "en";
        config.summary.provider = "local";
        config.summary.localModel = "tiny-local";
        config.summary.resolvedPrompt = "Write minutes.";
        fs::create_directories(session);
        SessionMetadataStore::write(SessionMetadata::initial(config, clock), session);
        platform::writeFileAtomically(session / "transcript.txt",
                                      "[SPEAKER_00 00:00:05] We agreed on the budget.\n");
    }

    std::unique_ptr<LocalSummarizationService>
    service(InterfaceLanguage language = InterfaceLanguage::english) {
        return std::make_unique<LocalSummarizationService>(LocalSummarizationService::Environment{
            .remote = {.providers = env.environment(testing::ProviderTestEnvironment::endpointsOn(server))},
            .localSummary =
                [this](const GenerativeSummaryContext& context, bool, const std::optional<std::string>&,
                       std::stop_token) {
                    localRuns.push_back(context);
                    return localAnswer;
                },
            .language = language,
            .clock = &clock});
    }

    fs::path run(std::stop_token stop = {}) {
        return service()->summarizeSession(session, session / "transcript.txt", config, stop);
    }

    std::string read(const fs::path& file) { return platform::readFile(file); }
    SessionMetadata metadata() { return SessionMetadataStore::read(session); }

    testing::TempDir dir;
    fs::path session = dir / "2025-01-31T09-15-00Z";
    SessionConfig config;
    platform::ManualClock clock;
    std::string localAnswer = kAnswer;
    std::vector<GenerativeSummaryContext> localRuns;
    testing::LoopbackServer server;
    testing::ProviderTestEnvironment env;
};

TEST_F(SummaryStepTest, AProviderTextThatIsNoStoredValueRunsLocally) {
    for (const std::string text : {"OpenAI", " openai", "", "gpt"}) {
        config.summary.provider = text;
        localRuns.clear();
        run();
        EXPECT_EQ(localRuns.size(), 1u) << text;
        EXPECT_TRUE(read(session / "summary.md").starts_with("---\nprovider: local\n")) << text;
    }
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(SummaryStepTest, ACommandLineToolIsRefusedInTheStoreFlavourBeforeAnyFileIsRead) {
    const auto restore = BuildFlavor::testOverride();
    config.summary.provider = "claude_cli";
    fs::remove(session / "transcript.txt");
    BuildFlavor::setTestOverride(BuildFlavorType::appStore);
    try {
        run();
        ADD_FAILURE() << "no error";
    } catch (const NativeSummarizationError& error) {
        EXPECT_STREQ(error.what(), "claude_cli は AppStore 版では利用できません");
    }
    BuildFlavor::setTestOverride(BuildFlavorType::direct);
    EXPECT_EQ(LocalSummarizationService::resolveSummaryProvider(config), SummaryProvider::claudeCLI);
    BuildFlavor::setTestOverride(restore);
    EXPECT_FALSE(fs::exists(session / "summary.md"));
}

TEST_F(SummaryStepTest, TheLocalPromptTakesTheTrimmedNoteAndTheInterfaceLanguagesBlock) {
    const std::string english = SummaryPromptAssembly::outputFormatBlock(InterfaceLanguage::english);
    EXPECT_EQ(english.size(), 681u);
    EXPECT_EQ(SummaryPromptAssembly::outputFormatBlock(InterfaceLanguage::japanese).size(), 848u);

    config.outputLanguage = "ja"; // the interface, not the output language, picks the block
    config.summary.userNote = " \n\t";
    run();
    EXPECT_EQ(localRuns.at(0).summaryPrompt, "Write minutes." + english);
    EXPECT_EQ(localRuns.at(0).outputLanguage, "ja");

    config.summary.userNote = "  keep the numbers \n";
    run();
    EXPECT_EQ(localRuns.at(1).summaryPrompt, "Write minutes.\n\n## 追加指示\nkeep the numbers" + english);
}

TEST_F(SummaryStepTest, ARemoteRunGetsTheNoteUntrimmedAndThePromptWithoutTheBlock) {
    config.summary.provider = "openai";
    config.summary.userNote = "  keep the numbers ";
    run();
    ASSERT_EQ(server.requestCount(), 1u);
    const auto call = testing::chatCallOf(server.requests()[0]);
    EXPECT_EQ(call.system, "Write minutes.");
    EXPECT_TRUE(
        call.user.starts_with("Output language: en\n\nAdditional context:\n\n  keep the numbers \n\n"));
    EXPECT_TRUE(localRuns.empty());
}

// The request body is JSON, which spells a NUL byte "\u0000": nothing after one is lost.
TEST_F(SummaryStepTest, NulBytesInTheNoteAndTheTranscriptReachAChatServerWhole) {
    using namespace std::string_literals;
    platform::writeFileAtomically(session / "transcript.txt", "[SPEAKER_00 00:00:05] We\0 agreed.\n"s);
    config.summary.provider = "openai";
    config.summary.userNote = "keep\0the numbers"s;
    run();
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_NE(server.requests()[0].body.find(R"(keep\u0000the numbers)"), std::string::npos);
    const std::string user = testing::chatCallOf(server.requests()[0]).user;
    EXPECT_NE(user.find("keep\0the numbers"s), std::string::npos);
    EXPECT_NE(user.find("We\0 agreed."s), std::string::npos);
}

TEST_F(SummaryStepTest, TheSummaryFileTheRunConfigurationAndTheHeadlineAreWritten) {
    config.summary.promptKey = "minutes";
    const fs::path written = run();
    EXPECT_EQ(written, session / "summary.md");
    EXPECT_EQ(read(written), "---\nprovider: local\nmodel: tiny-local\n---\n# Weekly sync\n\n## "
                             "Overview\nThe budget was agreed.\n");
    const auto runConfig = platform::Json::parse(read(session / "summary_config.json"));
    EXPECT_EQ(runConfig["provider"], "local");
    EXPECT_EQ(runConfig["promptKey"], "minutes");
    EXPECT_EQ(runConfig["promptLabel"], PromptCatalog::catalog().at(0).label);
    EXPECT_EQ(runConfig["outputLanguage"], "en");
    EXPECT_EQ(metadata().summaryHeadline, "Weekly sync");
    EXPECT_FALSE(metadata().summaryFallbackOccurred);

    config.summary.promptKey.reset();
    run();
    const auto custom = platform::Json::parse(read(session / "summary_config.json"));
    EXPECT_EQ(custom["promptKey"], "custom");
    EXPECT_FALSE(custom.contains("promptLabel") && !custom["promptLabel"].is_null());
}

TEST_F(SummaryStepTest, ALineBreakInTheModelNameStaysInsideTheHeader) {
    config.summary.localModel = "tiny\n---\n# Injected\r";
    run();
    EXPECT_EQ(read(session / "summary.md"),
              "---\nprovider: local\nmodel: tiny --- # Injected \n---\n# Weekly "
              "sync\n\n## Overview\nThe budget was agreed.\n");
    EXPECT_EQ(metadata().summaryHeadline, "Weekly sync");
}

TEST_F(SummaryStepTest, ScreenshotReferencesAreReplacedInTheWrittenSummary) {
    localAnswer = R"({"title":"Demo","sections":[{"heading":"Slides","format":"markdown",)"
                  R"json("content":"![the plan](PLACEHOLDER:0001_2025-01-31T09-16-00Z.jpg)"}]})json";
    run();
    const std::string summary = read(session / "summary.md");
    EXPECT_EQ(summary.find("PLACEHOLDER:"), std::string::npos);
    EXPECT_NE(summary.find("*画像なし: the plan*"), std::string::npos) << summary;
    EXPECT_EQ(metadata().summaryHeadline, "Demo");
}

TEST_F(SummaryStepTest, ASecondRunArchivesTheFirstSummaryAndItsConfiguration) {
    run();
    const std::string first = read(session / "summary.md");
    localAnswer = R"({"title":"Second","sections":[]})";
    clock.advance(std::chrono::seconds(5));
    run();
    std::vector<std::string> archived;
    for (const auto& entry : fs::directory_iterator(session / "summary_versions"))
        archived.push_back(entry.path().extension().string());
    std::sort(archived.begin(), archived.end());
    EXPECT_EQ(archived, (std::vector<std::string>{".json", ".md"}));
    for (const auto& entry : fs::directory_iterator(session / "summary_versions")) {
        if (entry.path().extension() == ".md") {
            EXPECT_EQ(read(entry.path()), first);
        }
    }
    EXPECT_EQ(metadata().summaryHeadline, "Second");
}

TEST_F(SummaryStepTest, AnEmptyRemoteAnswerIsAskedAgainInChunksAndNoted) {
    config.summary.provider = "openai";
    server.setHandler([this](const testing::RecordedRequest&) {
        return server.requestCount() == 1 ? testing::openAIAnswer(" ") : testing::openAIAnswer(kAnswer);
    });
    run();
    EXPECT_EQ(server.requestCount(), 2u);
    EXPECT_TRUE(metadata().summaryFallbackOccurred);
    EXPECT_EQ(metadata().summaryFallbackDetails, "provider=openai;reason=empty_response;strategy=chunked");
    EXPECT_TRUE(
        read(session / "summary.md").starts_with("---\nprovider: openai\nmodel: default\n---\n# Weekly"));
}

TEST_F(SummaryStepTest, ALaterRunReplacesTheHeadlineAndKeepsEarlierFallbackNotes) {
    config.summary.provider = "openai";
    server.setHandler([this](const testing::RecordedRequest&) {
        return server.requestCount() == 1 ? testing::openAIAnswer(" ") : testing::openAIAnswer(kAnswer);
    });
    run();
    config.summary.provider = "local";
    localAnswer = R"({"sections":[{"heading":"","format":"markdown","content":"plain text"}]})";
    run();
    EXPECT_EQ(metadata().summaryHeadline, std::nullopt);
    EXPECT_TRUE(metadata().summaryFallbackOccurred);
    EXPECT_EQ(metadata().summaryFallbackDetails, "provider=openai;reason=empty_response;strategy=chunked");
}

TEST_F(SummaryStepTest, AnotherRemoteErrorFailsTheStepWithoutAChunkedRunOrAnyFile) {
    config.summary.provider = "openai";
    server.reply(CannedReply::with(401, "bad key"));
    EXPECT_THROW(run(), RemoteAISummarizationError);
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_FALSE(fs::exists(session / "summary.md"));
    EXPECT_FALSE(fs::exists(session / "intermediate"));
}

TEST_F(SummaryStepTest, AMetaCommentaryAnswerFailsAndLeavesTheSummaryAlone) {
    platform::writeFileAtomically(session / "summary.md", "old summary");
    localAnswer = "議事録を作成しました。";
    try {
        run();
        ADD_FAILURE() << "no error";
    } catch (const NativeSummarizationError& error) {
        EXPECT_STREQ(error.what(), "要約結果が空でした");
    }
    EXPECT_EQ(read(session / "summary.md"), "old summary");
    EXPECT_FALSE(fs::exists(session / "summary_versions"));
}

TEST_F(SummaryStepTest, AnAnswerThatRendersToNothingFailsAndLeavesTheSummaryAlone) {
    platform::writeFileAtomically(session / "summary.md", "old summary");
    for (const std::string answer :
         {R"({"title":"","sections":[]})",
          R"({"title":"  ","sections":[{"heading":" ","format":"markdown","content":"\n"}]})",
          "```json\n{\"title\":\"\",\"sections\":[]}\n```"}) {
        localAnswer = answer;
        try {
            run();
            ADD_FAILURE() << "no error for " << answer;
        } catch (const NativeSummarizationError& error) {
            EXPECT_STREQ(error.what(), "要約結果が空でした") << answer;
        }
        EXPECT_EQ(read(session / "summary.md"), "old summary") << answer;
        EXPECT_FALSE(fs::exists(session / "summary_versions")) << answer;
        EXPECT_FALSE(metadata().summaryHeadline.has_value()) << answer;
    }
}

TEST_F(SummaryStepTest, AStoppedRunEndsCancelledAndWritesNothing) {
    // The local road answers a stop with its rule-based text; the step must not take it as done.
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(run(stop.get_token()), platform::CancellationError);
    EXPECT_FALSE(fs::exists(session / "summary.md"));
    EXPECT_FALSE(metadata().summaryHeadline.has_value());
}

TEST_F(SummaryStepTest, MissingSideFilesReadAsEmptyAndAnUnreadableTranscriptFails) {
    run();
    EXPECT_EQ(localRuns.at(0).liveTranscript, "");
    EXPECT_EQ(localRuns.at(0).ocrContext, "");
    EXPECT_EQ(localRuns.at(0).summaryContext.meaningfulSegments.size(), 1u);

    platform::writeFileAtomically(session / "transcript.txt", std::string("[00:00:01] \xff\xfe broken\n"));
    EXPECT_THROW(run(), std::system_error);
    fs::remove(session / "transcript.txt");
    EXPECT_THROW(run(), std::system_error);
}

// A FIFO with no writer stalls a blocking open for good: each file reads as unreadable instead.
TEST_F(SummaryStepTest, AFifoInPlaceOfASessionFileIsAReadErrorNotAStall) {
    for (const char* side : {"ocr_context.jsonl", "transcript.live.txt"})
        ASSERT_EQ(::mkfifo((session / side).c_str(), 0600), 0);
    run();
    EXPECT_EQ(localRuns.at(0).ocrContext, "");
    EXPECT_EQ(localRuns.at(0).liveTranscript, "");
    const std::string summary = read(session / "summary.md");

    fs::remove(session / "transcript.txt");
    ASSERT_EQ(::mkfifo((session / "transcript.txt").c_str(), 0600), 0);
    try {
        run();
        ADD_FAILURE() << "a FIFO transcript was summarized";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::invalid_argument);
    }
    EXPECT_EQ(read(session / "summary.md"), summary);
    EXPECT_EQ(localRuns.size(), 1u);
}

} // namespace
} // namespace velnote
