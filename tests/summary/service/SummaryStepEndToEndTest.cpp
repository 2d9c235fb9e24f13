#include "app/state/AppState.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/ManualClock.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/concurrency/TimerScheduler.h"
#include "platform/fs/Files.h"
#include "platform/json/Json.h"
#include "processing/queue/ProcessingQueue.h"
#include "processing/support/QueueTestSupport.h"
#include "providers/support/FakeChatServer.h"
#include "providers/support/FakeTools.h"
#include "providers/support/ProviderTestEnvironment.h"
#include "session/folder/SessionMetadataStore.h"
#include "summary/local/LlamaSummarizationPipeline.h"
#include "summary/service/LocalSummarizationService.h"
#include "support/TempDir.h"
#include "support/TinyLlamaGguf.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

namespace fs = std::filesystem;

const std::string kSummaryJSON = R"({"title":"Budget review","sections":[{"heading":"Decisions",)"
                                 R"("format":"markdown","content":"The budget was approved."}]})";

// A recording's transcript with enough speech for a model to be asked.
const std::string kTranscript =
    "[MIC SPEAKER_00 00:00:05] We reviewed the budget for the next quarter today.\n"
    "[MIC SPEAKER_01 00:00:40] The marketing costs stay as they were last year.\n"
    "[MIC SPEAKER_00 00:01:10] We decided to approve the budget and to hire two people.\n";

// Sessions through the real processing queue: transcription is a stand-in that writes the
// transcript; the summary step is the real service on a chat server on 127.0.0.1, a command-line
// tool and a tiny local model.
class SummaryStepEndToEndTest : public ::testing::Test {
  protected:
    SummaryStepEndToEndTest() {
        fs::create_directories(base);
        env.setKey("openAIAPIKey", "sk-test");
        // The single request overflows; the chunked run of the same provider answers.
        server.setHandler([](const testing::RecordedRequest& request) {
            return testing::chatCallOf(request).user.starts_with(
                       "Output language: en\n\nBelow is the meeting")
                       ? testing::contextLimitAnswer()
                       : testing::openAIAnswer(kSummaryJSON);
        });
        tools.write("claude", "printf '%s' '" + kSummaryJSON + "'");
        // A model that ends its answer at once keeps the local road quick.
        testing::TinyLlamaShape shape;
        shape.favouredToken = "<|endoftext|>";
        testing::writeTinyLlamaGguf(tinyModel, shape);
    }
    ~SummaryStepEndToEndTest() override { queue.reset(); }

    void startQueue() {
        ProcessingQueue::Dependencies d;
        d.timers = &timers;
        d.power = &power;
        d.uptime = [] { return std::chrono::hours{1}; };
        d.utilityExecutor = &pool;
        d.backgroundExecutor = &pool;
        d.mainDispatcher = &main;
        d.appState = &appState;
        d.transcribe = [](const fs::path& dir, const TranscriptionRequest&, const SessionConfig&,
                          std::stop_token) {
            platform::writeFileAtomically(dir / "transcript.txt", kTranscript);
            return SessionTranscriptionOutput{dir / "transcript.txt", std::nullopt, std::nullopt};
        };
        d.summary = std::make_shared<LocalSummarizationService>(LocalSummarizationService::Environment{
            .remote = {.providers = env.environment(testing::ProviderTestEnvironment::endpointsOn(server))},
            .localSummary =
                [](const GenerativeSummaryContext& context, bool preferDirect,
                   const std::optional<std::string>& customModelPath, std::stop_token stop) {
                    return LlamaSummarizationPipeline::buildGenerativeSummary(context, preferDirect,
                                                                              customModelPath, stop);
                },
            .language = InterfaceLanguage::english,
            .clock = &clock});
        d.clearChunkCaches = [](const std::vector<fs::path>&) {};
        queue = std::make_unique<ProcessingQueue>(std::move(d));
        queue
            ->setHooks(
                {.pushSnapshotsToAppState = [](SnapshotPush) {}, .notifyCompletion = [](const fs::path&) {}})
            .get();
        queue->start(base).get();
    }

    fs::path session(const std::string& name, const std::function<void(SummaryConfig&)>& edit) {
        const fs::path dir = dir_ / "Elsewhere" / name;
        testing::makeSession(dir, clock, [&](SessionMetadata& metadata) {
            metadata.config.outputLanguage = "en";
            metadata.config.summary.resolvedPrompt = "Write the minutes.";
            metadata.config.summary.localModel = "tiny";
            edit(metadata.config.summary);
        });
        return dir;
    }

    // The summary step's end as "session.json" records it.
    StepStatus summaryOutcome(const fs::path& dir) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
        for (;;) {
            const StepStatus status = SessionMetadataStore::read(dir).steps.summary.status;
            if (status == StepStatus::done || status == StepStatus::failed ||
                std::chrono::steady_clock::now() > deadline)
                return status;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    void expectSummaryFiles(const fs::path& dir, const std::string& provider) {
        SCOPED_TRACE(provider);
        ASSERT_EQ(summaryOutcome(dir), StepStatus::done)
            << SessionMetadataStore::read(dir).steps.summary.error.value_or("");
        const std::string summary = platform::readFile(dir / "summary.md");
        EXPECT_TRUE(summary.starts_with("---\nprovider: " + provider + "\nmodel: ")) << summary;
        const auto runConfig = platform::Json::parse(platform::readFile(dir / "summary_config.json"));
        EXPECT_EQ(runConfig["provider"], provider);
    }

    testing::TempDir dir_;
    fs::path base = dir_ / "WorkingSessions";
    fs::path tinyModel = dir_ / "tiny.gguf";
    testing::FakeTools tools{dir_ / "tools"};
    platform::ManualClock clock;
    platform::TimerScheduler timers{clock};
    platform::MainDispatcher main;
    platform::SettingsStore settings{dir_ / "app-settings.json"};
    platform::ThreadPool pool{4};
    AppState appState{AppState::Dependencies{
        .settings = &settings, .clock = &clock, .mainDispatcher = &main, .metadataExecutor = &pool}};
    testing::FakePowerStatus power;
    testing::LoopbackServer server;
    testing::ProviderTestEnvironment env;
    std::unique_ptr<ProcessingQueue> queue;
};

TEST_F(SummaryStepEndToEndTest, AChatServerAToolAndTheTinyLocalModelEachWriteTheSummaryFiles) {
    const fs::path chat = session("chat", [](SummaryConfig& s) { s.provider = "openai"; });
    const fs::path tool = session("tool", [&](SummaryConfig& s) {
        s.provider = "claude_cli";
        s.cliCommand = (tools.bin() / "claude").string();
    });
    const fs::path local = session("local", [&](SummaryConfig& s) {
        s.provider = "local";
        s.localModelPath = tinyModel.string();
    });
    startQueue();
    for (const auto& dir : {chat, tool, local})
        queue->enqueue(dir);

    expectSummaryFiles(chat, "openai");
    const auto chatMetadata = SessionMetadataStore::read(chat);
    EXPECT_EQ(chatMetadata.summaryHeadline, "Budget review");
    EXPECT_EQ(chatMetadata.summaryFallbackDetails, "provider=openai;reason=context_limit;strategy=chunked");
    ASSERT_EQ(server.requestCount(), 2u);
    EXPECT_NE(testing::chatCallOf(server.requests()[1]).user.find("We decided to approve the budget"),
              std::string::npos);

    expectSummaryFiles(tool, "claude_cli");
    EXPECT_EQ(SessionMetadataStore::read(tool).summaryHeadline, "Budget review");
    EXPECT_NE(tools.input("claude").find("Write the minutes."), std::string::npos);

    // The tiny model answers nothing: the local road ends in its rule-based text, which has no
    // headline of its own.
    expectSummaryFiles(local, "local");
    EXPECT_NE(platform::readFile(local / "summary.md").find("- [MIC SPEAKER_00 00:01:10] We decided"),
              std::string::npos);
    EXPECT_EQ(SessionMetadataStore::read(local).summaryHeadline, std::nullopt);
    EXPECT_FALSE(SessionMetadataStore::read(local).summaryFallbackOccurred);
}

} // namespace
} // namespace velnote
