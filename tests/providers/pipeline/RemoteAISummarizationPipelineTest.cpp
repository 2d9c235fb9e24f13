#include "providers/pipeline/RemoteAISummarizationPipeline.h"

#include "platform/concurrency/CancellationError.h"
#include "processing/modelslot/ModelExecutionScheduler.h"
#include "providers/core/RemoteAISummarizationError.h"
#include "providers/ondevice/AppleFoundationModelError.h"
#include "providers/ondevice/AppleFoundationModelService.h"
#include "providers/support/FakeChatServer.h"
#include "providers/support/ProviderTestEnvironment.h"
#include "session/settings/UserDictionaryStore.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

namespace Front = RemoteAISummarizationPipeline;
using testing::CannedReply;
using Kind = RemoteAISummarizationError::Kind;

class RemoteAISummarizationPipelineTest : public ::testing::Test {
  protected:
    RemoteAISummarizationPipelineTest() {
        env.setKey("openAIAPIKey", "sk-test");
        server.reply(testing::openAIAnswer("the answer"));
    }

    std::string prompt(std::string_view transcript, std::string_view live, std::string_view ocr,
                       std::string_view language, std::optional<std::string> extra = std::nullopt,
                       std::optional<std::string> screenshots = std::nullopt) {
        return Front::buildUserPrompt(transcript, live, ocr, language, extra, screenshots, env.settings());
    }

    RemoteSummaryEnvironment environment() {
        return {.providers = env.environment(testing::ProviderTestEnvironment::endpointsOn(server))};
    }

    testing::LoopbackServer server;
    testing::ProviderTestEnvironment env;
};

TEST_F(RemoteAISummarizationPipelineTest, PromptPartsAreJoinedAndLeftOutWithoutTrace) {
    const std::string intro = "Below is the meeting transcript.\n\n【Whisper Transcript】\n\n";
    EXPECT_EQ(prompt("T", " \n", "", "en"), "Output language: en\n\n" + intro + "T");
    // One blank as language is a language: the line ends in the colon's blank and the language.
    EXPECT_EQ(prompt("T", "", "", " "), "Output language:  \n\n" + intro + "T");
    // An empty transcript still has its heading, and the prompt then ends in the separator.
    EXPECT_EQ(prompt("", "", "", ""), intro);
    EXPECT_EQ(prompt("T", "", "", "", std::string(" \n ")), intro + "T");
    EXPECT_EQ(prompt("T", "", "", "", std::string("  note ")),
              "Additional context:\n\n  note \n\n" + intro + "T");
    EXPECT_EQ(prompt("T", "[00:01] live", "", ""), intro + "T\n\n【Live Transcript】\n\n[00:01] live");
}

TEST_F(RemoteAISummarizationPipelineTest, AScreenshotListHidesTheOCRContextAndABlankOneDoesNot) {
    const std::string ocr = R"({"filename":"a.jpg","text":"slide"})" + std::string(5000, ' ') + "x";
    const std::string withList = prompt("T", "", ocr, "en", std::nullopt, std::string("- 00:00:05 → a.jpg"));
    EXPECT_TRUE(withList.ends_with("T\n\n- 00:00:05 → a.jpg"));
    EXPECT_EQ(withList.find("slide"), std::string::npos);

    const std::string blankList = prompt("T", "", ocr, "en", std::nullopt, std::string(" \n"));
    EXPECT_TRUE(
        blankList.ends_with("T\n\nBelow is the screenshot OCR context in JSON Lines format (JSONL). Each "
                            "line represents one OCR record with fields: timestamp, filename, text, "
                            "is_manual, and results (array of {text, score}).\n\n" +
                            ocr));
}

TEST_F(RemoteAISummarizationPipelineTest, DictionaryEntriesWithAnEmptySideLeaveTheHeaderAlone) {
    const std::string header = "User dictionary entries are listed below. Use them to correct mistakes in "
                               "transcription or summary. Format: \"incorrect -> correct\".";
    UserDictionaryStore::saveEntries({{.id = platform::Uuid::random(), .wrong = "", .correct = "x"},
                                      {.id = platform::Uuid::random(), .wrong = "y", .correct = ""}},
                                     env.settings());
    EXPECT_TRUE(prompt("T", "", "", "").starts_with(header + "\n\nBelow is"));
    UserDictionaryStore::saveEntries(
        {{.id = platform::Uuid::random(), .wrong = "Velnot", .correct = "Velnote"}}, env.settings());
    EXPECT_TRUE(prompt("T", "", "", "").starts_with(header + "\n- Velnot -> Velnote\n\nBelow is"));
}

TEST_F(RemoteAISummarizationPipelineTest, ContextLimitsAreToldByTheirWordsAndKinds) {
    struct Case {
        std::string name;
        std::exception_ptr error;
        bool expected;
    };
    const auto ptr = [](auto error) { return std::make_exception_ptr(error); };
    const std::vector<Case> cases = {
        {"400 maximum context length",
         ptr(RemoteAISummarizationError::httpError("status=400 body=maximum CONTEXT LENGTH is 8192")), true},
        {"prompt exceeds token limit",
         ptr(RemoteAISummarizationError::cliFailed("claude", 1, "prompt exceeds the TOKEN limit")), true},
        {"429 rate limit exceeded",
         ptr(RemoteAISummarizationError::httpError("status=429 body=rate limit exceeded")), false},
        {"tool timeout mentioning context window",
         ptr(RemoteAISummarizationError::cliTimeout("claude", "context window")), false},
        {"on-device empty", ptr(AppleFoundationModelError::emptyResponse()), false},
        {"on-device too large", ptr(AppleFoundationModelError::contextTooLarge()), true},
        {"other error by description", ptr(std::runtime_error("context_length_exceeded")), true},
        {"cancellation", ptr(platform::CancellationError()), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Front::isContextLimitError(c.error), c.expected) << c.name;
}

TEST_F(RemoteAISummarizationPipelineTest, TheLocalProviderIsRefusedBeforeAnyCall) {
    SummarizationRequest request{.provider = SummaryProvider::llamaCppLocal};
    try {
        Front::runProviderSummarization(request, "p", environment());
        FAIL() << "no error";
    } catch (const RemoteAISummarizationError& error) {
        EXPECT_EQ(error.kind(), Kind::invalidProvider);
        EXPECT_EQ(error.detail(), "local");
    }
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(RemoteAISummarizationPipelineTest, AChatProviderGetsTheSummaryPromptAsSystemTextAndAnswersUnchanged) {
    SummarizationRequest request{.provider = SummaryProvider::openAI, .summaryPrompt = "be brief"};
    EXPECT_EQ(Front::runProviderSummarization(request, "the material", environment()), "the answer");
    const auto call = testing::chatCallOf(server.requests().at(0));
    EXPECT_EQ(call.system, "be brief");
    EXPECT_EQ(call.user, "the material");
}

// The on-device model: refuses the first prompt's language, then answers or refuses again.
class LanguageRefusingModel final : public OnDeviceLanguageModel {
  public:
    OnDeviceModelAvailability availability() override { return {}; }
    bool supportsLocale(const std::string&) override { return true; }
    std::vector<std::string> supportedLanguages() override { return {"en-Latn-US"}; }
    std::string respond(const std::string&, const std::string& prompt, std::stop_token) override {
        prompts.push_back(prompt);
        if (prompts.size() <= refusals)
            throw OnDeviceGenerationError(OnDeviceGenerationError::Kind::unsupportedLanguageOrLocale, "no");
        return "on-device answer";
    }
    std::size_t refusals = 1;
    std::vector<std::string> prompts;
};

TEST_F(RemoteAISummarizationPipelineTest, TheOnDeviceModelIsAskedOnceMoreWithoutTheLanguageLine) {
    auto model = std::make_shared<LanguageRefusingModel>();
    ModelExecutionScheduler scheduler;
    const AppleFoundationModelService service(model, scheduler);
    auto environment = this->environment();
    environment.onDevice = &service;
    std::vector<std::string> notes;
    SummarizationRequest request{.provider = SummaryProvider::appleLocalLLM,
                                 .transcript = "T",
                                 .outputLanguage = "en",
                                 .fallbackRecorder = [&](const std::string& note) { notes.push_back(note); }};
    const std::string first = prompt("T", "", "", "en");
    EXPECT_EQ(Front::runProviderSummarization(request, first, environment), "on-device answer");
    ASSERT_EQ(model->prompts.size(), 2u);
    EXPECT_TRUE(model->prompts[0].starts_with("Output language: en"));
    EXPECT_TRUE(model->prompts[1].starts_with("Below is the meeting transcript."));
    EXPECT_EQ(notes, std::vector<std::string>{
                         "provider=apple_local;reason=unsupported_language;en;strategy=auto_language"});

    model->prompts.clear();
    model->refusals = 2;
    EXPECT_THROW(Front::runProviderSummarization(request, first, environment), AppleFoundationModelError);
    EXPECT_EQ(model->prompts.size(), 2u);
}

} // namespace
} // namespace velnote
