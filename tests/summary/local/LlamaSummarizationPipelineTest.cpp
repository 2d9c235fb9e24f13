#include "summary/local/LlamaSummarizationPipeline.h"

#include "platform/concurrency/CancellationError.h"
#include "platform/logging/Logger.h"
#include "summary/core/NativeSummarizationError.h"
#include "summary/local/LlamaCppTextGenerator.h"
#include "support/TempDir.h"
#include "support/TinyLlamaGguf.h"

#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mutex>

namespace velnote {
namespace {

using namespace LlamaSummarizationPipeline;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::TempDir;

constexpr auto kSmallModel = "qwen2.5-3b-instruct-mlx-4bit"; // source chunks of 6400 bytes

// A model that answers by a rule and records every prompt.
class FakeModel {
  public:
    using Rule = std::function<std::string(const std::string& prompt, std::size_t call)>;

    explicit FakeModel(Rule rule) : rule_(std::move(rule)) {}

    std::string operator()(const std::string& prompt, std::stop_token stop) {
        std::size_t call = 0;
        {
            std::lock_guard lock(mutex_);
            prompts_.push_back(prompt);
            call = prompts_.size();
        }
        std::string answer = rule_(prompt, call);
        platform::throwIfCancelled(stop);
        return answer;
    }
    std::vector<std::string> prompts() const {
        std::lock_guard lock(mutex_);
        return prompts_;
    }

  private:
    Rule rule_;
    mutable std::mutex mutex_;
    std::vector<std::string> prompts_;
};

class LocalPipelineTest : public ::testing::Test {
  protected:
    LocalPipelineTest() {
        std::ofstream(modelFile) << "GGUF";
        std::filesystem::create_directories(sessionDir);
    }

    Environment environment(FakeModel& model) {
        return Environment{.generate = [&model](const std::string& prompt, const std::filesystem::path&,
                                                std::int64_t,
                                                std::stop_token stop) { return model(prompt, stop); },
                           .scheduler = &scheduler,
                           .models = store(),
                           .language = InterfaceLanguage::english};
    }

    LocalModelStore store() const {
        return {.persistent = dir / "persistent",
                .cache = dir / "cache",
                .legacy = {},
                .hubBaseURL = "http://127.0.0.1:9",
                .http = nullptr};
    }

    // `count` segments whose texts have `characters` characters in all, and a transcript of them.
    GenerativeSummaryContext context(std::size_t count, std::int64_t characters,
                                     std::string transcript = "") {
        GenerativeSummaryContext c;
        c.sessionDir = sessionDir;
        for (std::size_t i = 0; i < count; ++i)
            c.summaryContext.meaningfulSegments.push_back(
                {.timestamp = "MIC 00:00:0" + std::to_string(i), .text = "決定: 来週までに資料を確認する"});
        c.summaryContext.totalTextLength = characters;
        c.transcript = transcript.empty() ? "[MIC 00:00:01] 来週までに資料を確認する\n" : transcript;
        c.model = kSmallModel;
        c.outputLanguage = "en";
        return c;
    }

    // A transcript without time stamps of about `bytes` bytes: two or more source chunks above 6400.
    static std::string untimedTranscript(std::size_t bytes) {
        std::string text;
        for (int line = 0; text.size() < bytes; ++line)
            text += "line " + std::to_string(line) + " the budget review moves to Friday and Ken owns it\n";
        return text;
    }

    bool slotIsFree() {
        auto reservation = scheduler.reserveSlot(ModelExecutionPriority::whisper);
        if (reservation.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
            return false;
        scheduler.releaseSlot(reservation.get()).wait();
        return true;
    }

    TempDir dir;
    std::filesystem::path sessionDir = dir / "session";
    std::filesystem::path modelFile = dir / "model.gguf";
    ModelExecutionScheduler scheduler;
};

TEST_F(LocalPipelineTest, TooLittleSpeechGetsTheShortSessionTextWithoutAModel) {
    FakeModel model([](const std::string&, std::size_t) { return "# Summary\n- done"; });
    struct Case {
        std::size_t segments;
        std::int64_t characters;
        bool modelRuns;
    };
    for (const Case& c : {Case{2, 500, false}, Case{3, 79, false}, Case{3, 80, true}}) {
        const std::size_t before = model.prompts().size();
        const std::string text = buildGenerativeSummary(context(c.segments, c.characters), false,
                                                        modelFile.string(), {}, environment(model));
        EXPECT_EQ(model.prompts().size() > before, c.modelRuns) << c.segments << " " << c.characters;
        EXPECT_FALSE(text.empty());
    }
}

TEST_F(LocalPipelineTest, OneSourceChunkIsSummarisedInOnePassWithoutNotes) {
    FakeModel model(
        [](const std::string&, std::size_t) { return "# Weekly sync\n- Budget moves to Friday"; });
    const std::string text =
        buildGenerativeSummary(context(3, 120), false, modelFile.string(), {}, environment(model));
    ASSERT_EQ(model.prompts().size(), 1u);
    EXPECT_THAT(model.prompts()[0], HasSubstr("[Input: "));
    EXPECT_THAT(text, ::testing::StartsWith("# Weekly sync\n- Budget moves to Friday\n\n"));
    EXPECT_FALSE(std::filesystem::exists(sessionDir / "intermediate"));
    EXPECT_TRUE(slotIsFree());
}

TEST_F(LocalPipelineTest, SeveralChunksGoThroughNotesMergeAndAFinalOverview) {
    FakeModel model([](const std::string& prompt, std::size_t call) -> std::string {
        if (prompt.find("Compressed Notes") != std::string::npos)
            return "# Minutes\n- Budget review on Friday";
        return "- fact " + std::to_string(call) + ": the budget review moves to Friday";
    });
    auto c = context(3, 400, untimedTranscript(9000));
    c.screenshotContext = "SCREENSHOTS: PLACEHOLDER:0001.jpg";
    const std::string text = buildGenerativeSummary(c, false, modelFile.string(), {}, environment(model));
    const auto prompts = model.prompts();
    ASSERT_EQ(prompts.size(), 4u); // two notes, one merge, the final overview
    EXPECT_THAT(prompts[2], HasSubstr("Merge Level 1 Input"));
    EXPECT_THAT(prompts[3], HasSubstr("SCREENSHOTS: PLACEHOLDER:0001.jpg"));
    EXPECT_THAT(prompts[3], Not(HasSubstr("Recording time range"))); // no time stamps, no range
    EXPECT_THAT(text, ::testing::StartsWith("# Minutes"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(sessionDir / "intermediate"),
                            std::filesystem::directory_iterator()),
              4); // each note with its prompt
}

TEST_F(LocalPipelineTest, MergesThatAllComeBackEmptySkipTheFinalOverview) {
    FakeModel model([](const std::string& prompt, std::size_t call) -> std::string {
        if (prompt.find("Merge Level") != std::string::npos)
            return "";
        return "- fact " + std::to_string(call) + ": the budget review moves to Friday";
    });
    const std::string text = buildGenerativeSummary(context(3, 400, untimedTranscript(9000)), false,
                                                    modelFile.string(), {}, environment(model));
    for (const std::string& prompt : model.prompts())
        EXPECT_THAT(prompt, Not(HasSubstr("Compressed Notes")));
    EXPECT_THAT(text, HasSubstr("来週までに資料を確認する")); // the rule-based text from the segments
}

TEST_F(LocalPipelineTest, NotesThatNeverShrinkAreJoinedAfterTheDeepestLevel) {
    GenerationProfile profile{.mergeChunkByteLimit = 40};
    // Notes of 19 bytes: two never share a batch of 40, so every level has as many notes as the last.
    const auto numbered = [](const std::string& prefix, std::size_t n) {
        std::string digits = std::to_string(n);
        return prefix + std::string(3 - digits.size(), '0') + digits;
    };
    FakeModel model([&](const std::string&, std::size_t call) { return numbered("merged note no. ", call); });
    const std::vector<std::string> notes{numbered("input fact no. 0", 1), numbered("input fact no. 0", 2),
                                         numbered("input fact no. 0", 3), numbered("input fact no. 0", 4)};
    platform::LogCapture log;
    const std::string merged =
        mergeIntermediateNotes(notes, modelFile, "", "en", 1, profile, kSmallModel, {}, environment(model));
    EXPECT_EQ(model.prompts().size(), 32u); // four batches at each of eight levels
    EXPECT_EQ(merged, "merged note no. 029\nmerged note no. 030\nmerged note no. 031\nmerged note no. 032");
    EXPECT_TRUE(log.contains("merge depth exceeded limit (8), concatenating remaining 4/4 notes"));

    EXPECT_EQ(mergeIntermediateNotes({"kept", "abcabcabcabcabcabcabcabcabc"}, modelFile, "", "en", 9, profile,
                                     kSmallModel, {}, environment(model)),
              "kept");
}

TEST_F(LocalPipelineTest, TheModelsAnswerDecidesBetweenItsDocumentAndTheRuleBasedText) {
    struct Case {
        std::string answer;
        std::string expected;
    };
    for (const Case& c :
         {Case{"# Minutes\n- Friday", "# Minutes\n- Friday\n\n"},
          Case{"The team agreed to move the budget review.", "The team agreed to move the budget"},
          Case{"", "来週までに資料を確認する"}}) {
        FakeModel model([&](const std::string&, std::size_t) { return c.answer; });
        EXPECT_THAT(
            buildGenerativeSummary(context(3, 400), false, modelFile.string(), {}, environment(model)),
            HasSubstr(c.expected))
            << c.answer;
    }
    FakeModel failing([](const std::string&, std::size_t) -> std::string {
        throw LlamaCppGenerationError(LlamaCppGenerationError::Kind::cannotCreateContext);
    });
    EXPECT_THAT(buildGenerativeSummary(context(3, 400), false, modelFile.string(), {}, environment(failing)),
                HasSubstr("来週までに資料を確認する"));
    EXPECT_TRUE(slotIsFree());
}

TEST_F(LocalPipelineTest, ACancelledSummaryEndsCancelledAndFreesTheSlot) {
    std::stop_source stop;
    FakeModel model([&](const std::string&, std::size_t call) {
        if (call == 2)
            stop.request_stop();
        return "- a note that is long enough to keep";
    });
    EXPECT_THROW(buildGenerativeSummary(context(3, 400, untimedTranscript(9000)), false, modelFile.string(),
                                        stop.get_token(), environment(model)),
                 platform::CancellationError);
    EXPECT_EQ(model.prompts().size(), 2u);
    EXPECT_TRUE(slotIsFree());
}

TEST_F(LocalPipelineTest, ADirectSummaryThatFailsFallsBackToChunksButAnEmptyOneDoesNot) {
    FakeModel throwing([](const std::string& prompt, std::size_t) -> std::string {
        if (prompt.find("[Input: Full Text]") != std::string::npos)
            throw LlamaCppGenerationError(LlamaCppGenerationError::Kind::cannotCreateContext);
        return "# Minutes";
    });
    buildGenerativeSummary(context(3, 400), true, modelFile.string(), {}, environment(throwing));
    ASSERT_EQ(throwing.prompts().size(), 2u);
    EXPECT_THAT(throwing.prompts()[1], HasSubstr("[Input: "));

    FakeModel empty([](const std::string&, std::size_t) { return ""; });
    buildGenerativeSummary(context(3, 400), true, modelFile.string(), {}, environment(empty));
    EXPECT_EQ(empty.prompts().size(), 1u);
}

TEST_F(LocalPipelineTest, AMissingModelFailsTheSummaryAndFreesTheSlot) {
    FakeModel model([](const std::string&, std::size_t) { return "# never"; });
    auto c = context(3, 400);
    c.model = "custom";
    try {
        buildGenerativeSummary(c, false, (dir / "missing.gguf").string(), {}, environment(model));
        FAIL() << "no model error";
    } catch (const NativeSummarizationError& error) {
        EXPECT_EQ(error.kind(), NativeSummarizationError::Kind::noModelSpec);
    }
    EXPECT_TRUE(model.prompts().empty());
    EXPECT_TRUE(slotIsFree());
}

TEST_F(LocalPipelineTest, TheTinyModelRunsThroughTheWholeRoad) {
    const auto tiny = dir / "tiny.gguf";
    testing::TinyLlamaShape endsAtOnce;
    endsAtOnce.favouredToken = "<|endoftext|>";
    testing::writeTinyLlamaGguf(tiny, endsAtOnce);
    Environment real = Environment::standard();
    real.scheduler = &scheduler;
    real.models = store();
    real.language = InterfaceLanguage::english;
    platform::LogCapture log;
    const std::string text = buildGenerativeSummary(context(3, 400), false, tiny.string(), {}, real);
    EXPECT_THAT(text, HasSubstr("来週までに資料を確認する"));
    EXPECT_TRUE(log.contains("llama.cpp model path=" + tiny.string()));
    EXPECT_TRUE(log.contains("llama.cpp returned empty text"));
}

TEST(LiveSummaryInputTest, SectionsShareTheByteLimit) {
    const std::string ocr = R"({"filename":"0001.jpg","text":"slide"})";
    // The transcript fills the limit: neither the previous summary nor the screen text fits.
    const std::string full(200, 'x');
    EXPECT_EQ(buildLiveSummaryCombinedText(full, ocr, "before", 200), "【Live Transcript】\n" + full);

    // 64 bytes left: no previous summary; 65 left: its tail within 65 bytes.
    const std::string previous = std::string(100, 'p') + "END";
    EXPECT_EQ(buildLiveSummaryCombinedText(std::string(136, 't'), "", previous, 200).find("Previous"),
              std::string::npos);
    const std::string withPrevious = buildLiveSummaryCombinedText(std::string(135, 't'), "", previous, 200);
    EXPECT_THAT(withPrevious, ::testing::StartsWith("【Previous Live Summary】\n"));
    EXPECT_THAT(withPrevious, HasSubstr("END\n\n【Live Transcript】\n"));

    const std::string withScreen = buildLiveSummaryCombinedText("short", ocr, "", 400);
    EXPECT_THAT(withScreen,
                HasSubstr("【Screenshot OCR Context (JSONL Format)】\nEach line is one OCR record"));
    EXPECT_THAT(withScreen, ::testing::EndsWith(ocr));
}

} // namespace
} // namespace velnote
