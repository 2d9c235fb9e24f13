#include "context/live/summary/LiveSummaryGenerator.h"

#include "platform/http/HttpError.h"
#include "platform/logging/Logger.h"
#include "providers/core/RemoteAISummarizationError.h"
#include "providers/ondevice/AppleFoundationModelError.h"
#include "providers/ondevice/AppleFoundationModelService.h"
#include "providers/support/FakeChatServer.h"
#include "providers/support/FakeTools.h"
#include "summary/core/NativeSummarizationError.h"
#include "support/LiveSummaryTestSupport.h"

#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace velnote {
namespace {

using testing::CannedReply;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class LiveSummaryGeneratorTest : public ::testing::Test {
  protected:
    LiveSummaryGeneratorTest() {
        roads.providers.setKey("openAIAPIKey", "sk-test");
        roads.providers.setSetting("additionalPATH", tools.bin().string());
    }

    LiveSummaryGenerator generator(InterfaceLanguage language = InterfaceLanguage::english) {
        auto environment = roads.environment(server, language);
        if (onDevice) {
            environment.remote.onDevice = onDevice.get();
        }
        cli = std::make_unique<CLIChatService>(environment.remote.providers);
        environment.cli = cli.get();
        return LiveSummaryGenerator(std::move(environment));
    }

    static LiveSummaryRequest request(std::string transcript = "[00:05] we ship on Friday") {
        return {.prompt = "be brief",
                .previous = "",
                .ocrContext = "",
                .recentTranscript = std::move(transcript),
                .outputLanguage = "en"};
    }

    testing::LoopbackServer server;
    testing::LiveSummaryRoads roads;
    testing::FakeTools tools{roads.dir.path() / "tools"};
    std::unique_ptr<CLIChatService> cli;
    std::unique_ptr<AppleFoundationModelService> onDevice;
};

std::size_t countOf(const std::string& text, char c) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), c));
}

// The local road.

TEST_F(LiveSummaryGeneratorTest, TheLocalInstructionsFollowTheInterfaceLanguageNotTheOutputLanguage) {
    struct Case {
        InterfaceLanguage interface;
        std::string outputLanguage;
        std::string userStart;
    };
    const Case cases[] = {
        {InterfaceLanguage::japanese, "English",
         "出力言語: en\n以下の情報を使って、録音中画面に表示する短いライブ要約を更新してください。"},
        {InterfaceLanguage::english, "日本語",
         "Output language: ja\nUsing the information below, update the short live summary"},
        {InterfaceLanguage::english, "klingon", "Output language: ja\n"},
    };
    for (const Case& c : cases) {
        auto req = request();
        req.outputLanguage = c.outputLanguage;
        EXPECT_EQ(
            generator(c.interface).makeLiveSummary(SummaryProvider::llamaCppLocal, req, roads.localModel()),
            "- the summary");
        const std::string prompt = roads.model.prompts().back();
        EXPECT_THAT(prompt,
                    StartsWith("<|im_start|>system\nbe brief<|im_end|>\n<|im_start|>user\n" + c.userStart))
            << c.outputLanguage;
        EXPECT_THAT(prompt, HasSubstr("[00:05] we ship on Friday"));
    }
}

TEST_F(LiveSummaryGeneratorTest, TheLocalBodyKeepsAtLeast1024BytesHoweverLongThePrompt) {
    auto req = request(std::string(3000, '~'));
    const auto gen = generator();
    EXPECT_EQ(countOf(gen.localUserMessage(req, "qwen2.5-7b-instruct-mlx-4bit"), '~'), 3000u);
    req.prompt = std::string(30000, 'p'); // 20000 - 30000 - 256 is far below the floor
    EXPECT_EQ(countOf(gen.localUserMessage(req, "qwen2.5-7b-instruct-mlx-4bit"), '~'), 1024u);
}

TEST_F(LiveSummaryGeneratorTest, TheModelSlotIsGivenBackWhateverTheModelDid) {
    struct Case {
        std::string name;
        std::function<std::string(const std::string&)> answer;
        bool emptySummary;
    };
    const Case cases[] = {
        {"answers", [](const std::string&) { return std::string("- fine"); }, false},
        {"says nothing usable", [](const std::string&) { return std::string("  "); }, true},
        {"fails", [](const std::string&) -> std::string { throw std::runtime_error("decode failed"); },
         false},
    };
    for (const Case& c : cases) {
        roads.model.answer = c.answer;
        try {
            EXPECT_EQ(generator().makeLocalSummary(request(), roads.localModel()), "- fine") << c.name;
        } catch (const NativeSummarizationError& e) {
            EXPECT_TRUE(c.emptySummary) << c.name;
            EXPECT_EQ(e.kind(), NativeSummarizationError::Kind::emptySummary);
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "decode failed") << c.name;
        }
        EXPECT_TRUE(roads.slotIsFree()) << c.name;
    }
}

TEST_F(LiveSummaryGeneratorTest, AModelThatCannotBeFoundFailsBeforeTheModelRuns) {
    EXPECT_THROW(generator().makeLocalSummary(request(), {.model = "no-such-model", .path = std::nullopt}),
                 NativeSummarizationError);
    EXPECT_EQ(roads.model.calls(), 0u);
    EXPECT_TRUE(roads.slotIsFree());
}

// The command-line chat road.

TEST_F(LiveSummaryGeneratorTest, TheCommandLineTextHasOnlyTheSectionsThereIsMaterialFor) {
    tools.write("claude", R"(echo '{"result":"- from claude","session_id":"s1"}')");
    auto bare = request("");
    bare.prompt = "";
    EXPECT_EQ(generator().makeLiveSummary(SummaryProvider::claudeCLI, bare, roads.localModel()),
              "- from claude");
    EXPECT_EQ(tools.input("claude"),
              "You are an AI assistant for meeting and work sessions. Summarize the "
              "following transcript concisely.\nOutput language: en\n\n【トランスクリプト】\n");

    auto full = request();
    full.previous = "- earlier";
    full.ocrContext = R"({"text":"slide"})";
    full.providerModel = "sonnet";
    generator().makeLiveSummary(SummaryProvider::claudeCLI, full, roads.localModel());
    EXPECT_EQ(tools.input("claude"),
              "be brief\n\nPrevious Live Summary\n- earlier\n\n【画面情報】\n"
              "{\"text\":\"slide\"}\n\n【トランスクリプト】\n[00:05] we ship on Friday");
    EXPECT_THAT(tools.args("claude"), ::testing::Contains("sonnet"));
    EXPECT_THAT(tools.args("claude"), Not(::testing::Contains("--resume")));
}

TEST_F(LiveSummaryGeneratorTest, CopilotGetsTheSameTextAndItsAnswerIsTheSummary) {
    tools.write("copilot", R"(echo '{"type":"assistant.message","data":{"content":"- from copilot"}}')");
    EXPECT_EQ(generator().makeLiveSummary(SummaryProvider::copilotCLI, request(), roads.localModel()),
              "- from copilot");
    EXPECT_EQ(tools.input("copilot"), "be brief\n\n【トランスクリプト】\n[00:05] we ship on Friday");
}

TEST_F(LiveSummaryGeneratorTest, AntigravityGoesThroughTheRemotePipelineWithItsUserPrompt) {
    tools.write("agy", "echo '- from agy'", testing::FakeTools::Input::ignored);
    EXPECT_EQ(generator().makeLiveSummary(SummaryProvider::antigravityCLI, request(), roads.localModel()),
              "- from agy");
    std::string given;
    for (const std::string& arg : tools.args("agy")) {
        given += arg + "\n";
    }
    EXPECT_THAT(given, HasSubstr("Below is the meeting transcript."));
    EXPECT_THAT(given, Not(HasSubstr("【トランスクリプト】")));
}

// The remote road.

TEST_F(LiveSummaryGeneratorTest, AChatProviderGetsThePreviousSummaryAsAdditionalContext) {
    server.reply(testing::openAIAnswer("- from the API"));
    auto req = request();
    req.previous = "- earlier";
    req.providerModel = "gpt-test";
    EXPECT_EQ(generator().makeLiveSummary(SummaryProvider::openAI, req, roads.localModel()),
              "- from the API");
    ASSERT_EQ(server.requestCount(), 1u);
    const auto call = testing::chatCallOf(server.requests().at(0));
    EXPECT_EQ(call.system, "be brief");
    EXPECT_THAT(call.user, StartsWith("Output language: en\n\nAdditional context:\n\nPrevious Live Summary\n"
                                      "- earlier\n\nBelow is the meeting transcript."));
    EXPECT_THAT(call.user, HasSubstr("[00:05] we ship on Friday"));
    EXPECT_EQ(platform::Json::parse(server.requests().at(0).body)["model"], "gpt-test");
}

TEST_F(LiveSummaryGeneratorTest, AnEmptyAnswerOrAContextLimitIsRetriedInChunksByTheSameProvider) {
    struct Case {
        CannedReply first;
        std::string reason;
    };
    const Case cases[] = {{testing::openAIAnswer(""), "empty_response"},
                          {testing::contextLimitAnswer(), "context_limit"}};
    for (const Case& c : cases) {
        testing::LoopbackServer chat;
        chat.setHandler([&chat, first = c.first](const testing::RecordedRequest&) {
            return chat.requestCount() == 1 ? first : testing::openAIAnswer("- chunked");
        });
        server.setHandler([&](const testing::RecordedRequest&) { return CannedReply::with(500, ""); });
        auto environment = roads.environment(chat);
        const LiveSummaryGenerator gen(std::move(environment));
        platform::LogCapture logs;
        EXPECT_EQ(gen.makeLiveSummary(SummaryProvider::openAI, request(), roads.localModel()), "- chunked");
        EXPECT_GE(chat.requestCount(), 2u);
        EXPECT_TRUE(logs.contains("summary provider openai returned " + c.reason +
                                  ", retrying with chunked same-provider fallback"));
    }
}

TEST_F(LiveSummaryGeneratorTest, OtherRemoteFailuresPassUpWithoutARetry) {
    server.reply(CannedReply::with(404, R"({"error":"no such model"})"));
    try {
        generator().makeLiveSummary(SummaryProvider::openAI, request(), roads.localModel());
        FAIL() << "no failure";
    } catch (const RemoteAISummarizationError& e) {
        EXPECT_EQ(e.kind(), RemoteAISummarizationError::Kind::httpError);
        EXPECT_EQ(LiveSummaryGenerator::liveSummaryUserMessage(std::current_exception()),
                  "Calling the summary API failed. It will retry automatically in a while.");
    }
    EXPECT_EQ(server.requestCount(), 1u);
}

// The on-device road.

// An on-device model that fails every call the same way and records the prompts.
class FailingOnDeviceModel final : public OnDeviceLanguageModel {
  public:
    explicit FailingOnDeviceModel(OnDeviceGenerationError::Kind kind) : kind_(kind) {}
    OnDeviceModelAvailability availability() override { return {}; }
    bool supportsLocale(const std::string&) override { return true; }
    std::vector<std::string> supportedLanguages() override { return {"en-Latn-US"}; }
    std::string respond(const std::string&, const std::string& prompt, std::stop_token) override {
        prompts.push_back(prompt);
        throw OnDeviceGenerationError(kind_, "scripted");
    }
    std::vector<std::string> prompts;

  private:
    OnDeviceGenerationError::Kind kind_;
};

TEST_F(LiveSummaryGeneratorTest, AnOnDeviceContextOverflowIsTriedThriceAndTheLastFailureReported) {
    auto model =
        std::make_shared<FailingOnDeviceModel>(OnDeviceGenerationError::Kind::exceededContextWindowSize);
    onDevice = std::make_unique<AppleFoundationModelService>(model, roads.scheduler);
    auto req = request("[00:01] the very first line\n[00:02] later words of the meeting");
    req.previous = "- earlier";
    platform::LogCapture logs;
    try {
        generator().makeLiveSummary(SummaryProvider::appleLocalLLM, req, roads.localModel());
        FAIL() << "no failure";
    } catch (const AppleFoundationModelError& e) {
        EXPECT_EQ(e.kind(), AppleFoundationModelError::Kind::contextTooLarge); // the third try's
    }
    // Each try: the single request, then the chunked retry of its one chunk.
    ASSERT_EQ(model->prompts.size(), 6u);
    EXPECT_THAT(model->prompts[0], HasSubstr("Previous Live Summary\n- earlier"));
    for (std::size_t i = 2; i < model->prompts.size(); ++i) {
        EXPECT_THAT(model->prompts[i], Not(HasSubstr("- earlier"))) << i;
        EXPECT_THAT(model->prompts[i], HasSubstr("the very first line")) << i;
    }
    EXPECT_TRUE(logs.contains("Apple local live summary context too large, retrying with reduced context"));
}

TEST_F(LiveSummaryGeneratorTest, AnOnDeviceLanguageRefusalIsNotRetriedWithLessInput) {
    auto model =
        std::make_shared<FailingOnDeviceModel>(OnDeviceGenerationError::Kind::unsupportedLanguageOrLocale);
    onDevice = std::make_unique<AppleFoundationModelService>(model, roads.scheduler);
    auto req = request();
    req.previous = "- earlier";
    platform::LogCapture logs;
    try {
        generator().makeLiveSummary(SummaryProvider::appleLocalLLM, req, roads.localModel());
        FAIL() << "no failure";
    } catch (const AppleFoundationModelError& e) {
        EXPECT_EQ(e.kind(), AppleFoundationModelError::Kind::unsupportedLanguage);
    }
    EXPECT_TRUE(logs.contains("Apple local live summary unsupported in current locale"));
    for (const std::string& prompt : model->prompts) {
        EXPECT_THAT(prompt, HasSubstr("Previous Live Summary")); // never the smaller retries
    }
}

// Helpers.

TEST(LiveSummaryUserMessageTest, EachFailureGetsItsMessage) {
    using Remote = RemoteAISummarizationError;
    using Http = platform::HttpError;
    const std::string unknown = "The live summary failed. It will retry automatically in a while.";
    const std::string server =
        "The summary API server returned an error. It will retry automatically in a while.";
    const std::pair<std::exception_ptr, std::string> cases[] = {
        {std::make_exception_ptr(Remote::missingSetting("openAIAPIKey")), "Missing setting: openAIAPIKey"},
        {std::make_exception_ptr(Remote::httpError("status=429 body=slow down")),
         "The rate limit was reached. It will retry automatically in a while."},
        {std::make_exception_ptr(Remote::httpError("status=401 body=")),
         "The API key is invalid. Check the settings."},
        {std::make_exception_ptr(Remote::httpError("status=403 body=")),
         "The API key is invalid. Check the settings."},
        {std::make_exception_ptr(Remote::httpError("status=503 body=")), server},
        {std::make_exception_ptr(Remote::httpError("status=500 body=")), server},
        {std::make_exception_ptr(Remote::httpError("status=404 body=")),
         "Calling the summary API failed. It will retry automatically in a while."},
        {std::make_exception_ptr(Remote::emptyResponse()),
         "The summary came back empty. It will retry automatically in a while."},
        {std::make_exception_ptr(Remote::invalidProvider("local")), unknown},
        {std::make_exception_ptr(Http(Http::Code::networkConnectionLost, "")),
         "Check the network connection."},
        {std::make_exception_ptr(Http(Http::Code::timedOut, "")),
         "The summary API timed out. It will retry automatically in a while."},
        {std::make_exception_ptr(Http(Http::Code::cannotFindHost, "")), unknown},
        {std::make_exception_ptr(NativeSummarizationError::emptySummary()), unknown},
        {std::make_exception_ptr(AppleFoundationModelError::contextTooLarge()), unknown},
        {std::make_exception_ptr(std::runtime_error("anything")), unknown},
        {std::make_exception_ptr(42), unknown},
    };
    for (const auto& [failure, message] : cases) {
        EXPECT_EQ(LiveSummaryGenerator::liveSummaryUserMessage(failure), message);
    }
}

TEST(ReduceTranscriptContextTest, KeepsTheTailFromALineStart) {
    struct Case {
        std::string text;
        std::int64_t maxChars;
        std::string expected;
    };
    const Case cases[] = {
        {"  short \n", 10, "short"},
        {"first line\nsecond line", 14, "second line"}, // the tail "ne\nsecond line" begins inside a line
        {"abcdefghij", 4, "ghij"},                      // no line break: the tail as it is
        {"one\ntwo\n   three", 9, "three"},             // trimmed again after the cut
        {"会議の記録\n次の議題", 6, "次の議題"},        // characters, not bytes
        {"x", 0, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LiveSummaryGenerator::reduceTranscriptContext(c.text, c.maxChars), c.expected) << c.text;
    }
}

} // namespace
} // namespace velnote
