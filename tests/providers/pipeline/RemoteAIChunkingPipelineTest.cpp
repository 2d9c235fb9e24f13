#include "providers/pipeline/RemoteAIChunkingPipeline.h"

#include "platform/logging/Logger.h"
#include "providers/core/RemoteAISummarizationError.h"
#include "providers/support/FakeChatServer.h"
#include "providers/support/ProviderTestEnvironment.h"
#include "summary/text/SummaryNoteStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace velnote {
namespace {

using namespace std::chrono_literals;
using testing::CannedReply;
using testing::ChatCall;
namespace Chunking = RemoteAIChunkingPipeline;

// A transcript without time stamps of `lines` lines of 100 bytes: "Conversation Record i/n" chunks of up
// to 10000 bytes for a chat API.
std::string longTranscript(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) {
        char head[32];
        std::snprintf(head, sizeof head, "line %04d ", i);
        text += head + std::string(89, 'a') + "\n";
    }
    return text;
}

// The label of the fragment a chunk-note request asks about.
std::string fragmentOf(const std::string& user) {
    const std::string marker = "【Target Fragment: ";
    const auto start = user.find(marker);
    if (start == std::string::npos)
        return "";
    const auto from = start + marker.size();
    return user.substr(from, user.find("】", from) - from);
}

class RemoteAIChunkingPipelineTest : public ::testing::Test {
  protected:
    RemoteAIChunkingPipelineTest() {
        env.setKey("openAIAPIKey", "sk-test");
        answer = [](const ChatCall& call) {
            if (const std::string label = fragmentOf(call.user); !label.empty())
                return testing::openAIAnswer("note of " + label);
            if (call.user.find("Merge Level") != std::string::npos)
                return testing::openAIAnswer("merged notes");
            return testing::openAIAnswer("final summary");
        };
        server.setHandler([this](const testing::RecordedRequest& request) {
            const ChatCall call = testing::chatCallOf(request);
            {
                std::lock_guard lock(mutex);
                calls.push_back(call);
            }
            return answer(call);
        });
    }

    SummarizationRequest request(std::string transcript) {
        return {.provider = SummaryProvider::openAI,
                .transcript = std::move(transcript),
                .summaryPrompt = "minutes please",
                .outputLanguage = "en",
                .sessionDir = dir.path(),
                .fallbackRecorder = [this](const std::string& note) {
                    std::lock_guard lock(mutex);
                    notes.push_back(note);
                }};
    }

    Chunking::MergeRequest merge(std::vector<std::string> notes) {
        return {.notes = std::move(notes),
                .provider = SummaryProvider::openAI,
                .outputLanguage = "en",
                .mergeByteLimit = 12000,
                .fallbackRecorder = [this](const std::string& note) { this->notes.push_back(note); }};
    }

    RemoteSummaryEnvironment environment(unsigned processors = 8) {
        return {.providers = env.environment(testing::ProviderTestEnvironment::endpointsOn(server)),
                .processorCount = processors};
    }

    std::vector<ChatCall> seen() {
        std::lock_guard lock(mutex);
        return calls;
    }

    std::function<CannedReply(const ChatCall&)> answer;
    std::mutex mutex;
    std::vector<ChatCall> calls;    // guarded by mutex
    std::vector<std::string> notes; // guarded by mutex
    testing::LoopbackServer server;
    testing::ProviderTestEnvironment env;
    testing::TempDir dir;
    platform::LogCapture logs;
};

TEST_F(RemoteAIChunkingPipelineTest, HalvesAreCutAtALineFeedNearTheMiddle) {
    struct Case {
        std::string name;
        std::string text;
        std::optional<std::pair<std::string, std::string>> halves;
    };
    const std::string a800(800, 'a');
    const std::vector<Case> cases = {
        {"1600 bytes are never split", std::string(799, 'a') + "\n" + a800, std::nullopt},
        {"1601 bytes split at the line feed", a800 + "\n" + a800, std::pair{a800, a800}},
        {"the first line feed after the middle",
         std::string(700, 'a') + "\n" + std::string(200, 'b') + "\n" + std::string(700, 'c'),
         std::pair{std::string(700, 'a') + "\n" + std::string(200, 'b'), std::string(700, 'c')}},
        {"else the last before it", std::string(1000, 'a') + "\n" + std::string(700, 'b'),
         std::pair{std::string(1000, 'a'), std::string(700, 'b')}},
        {"no line feed: the middle character", std::string(1700, 'x'),
         std::pair{std::string(850, 'x'), std::string(850, 'x')}},
        {"only a leading line feed", "\n" + std::string(1700, 'x'), std::nullopt},
    };
    for (const auto& c : cases) {
        const auto halves = Chunking::splitChunkInHalf({.label = "T 1/2", .text = c.text});
        ASSERT_EQ(halves.has_value(), c.halves.has_value()) << c.name;
        if (!halves)
            continue;
        EXPECT_EQ(halves->first.text, c.halves->first) << c.name;
        EXPECT_EQ(halves->second.text, c.halves->second) << c.name;
        EXPECT_EQ(halves->first.label, "T 1/2 (1/2)");
        EXPECT_EQ(halves->second.label, "T 1/2 (2/2)");
    }
}

TEST_F(RemoteAIChunkingPipelineTest, AnOverflowingChunkOf1600BytesIsSkippedAndOneOf1601Split) {
    answer = [](const ChatCall&) { return testing::contextLimitAnswer(); };
    const std::string a800(800, 'a');
    EXPECT_EQ(Chunking::summarizeChunkWithSplitRetry({"T 4/9", std::string(799, 'a') + "\n" + a800},
                                                     request(""), 4, environment()),
              std::nullopt);
    EXPECT_EQ(notes, std::vector<std::string>{"provider=openai;strategy=chunk_skip;chunk=4"});
    EXPECT_EQ(server.requestCount(), 1u);

    notes.clear();
    EXPECT_EQ(
        Chunking::summarizeChunkWithSplitRetry({"T 4/9", a800 + "\n" + a800}, request(""), 4, environment()),
        std::nullopt);
    EXPECT_EQ(notes, (std::vector<std::string>{"provider=openai;strategy=chunk_split;chunk=4",
                                               "provider=openai;strategy=chunk_skip;chunk=4",
                                               "provider=openai;strategy=chunk_skip;chunk=4"}));
    EXPECT_EQ(server.requestCount(), 4u);
}

TEST_F(RemoteAIChunkingPipelineTest, AtMostThreeNotesAreAskedAtOnceAndComeBackInChunkOrder) {
    for (const auto& [processors, limit] : std::vector<std::pair<unsigned, std::size_t>>{
             {1, 1}, {2, 1}, {3, 1}, {4, 2}, {5, 2}, {6, 3}, {64, 3}})
        EXPECT_EQ(Chunking::noteConcurrencyLimit(processors), limit) << processors;

    // Earlier chunks answer later, so the notes finish out of order.
    answer = [](const ChatCall& call) {
        if (const std::string label = fragmentOf(call.user); !label.empty()) {
            const int number = std::stoi(label.substr(label.rfind(' ') + 1));
            std::this_thread::sleep_for(std::chrono::milliseconds(5 * (11 - number)));
            return testing::openAIAnswer("note " + std::to_string(number));
        }
        return testing::openAIAnswer(call.user.find("Merge Level") != std::string::npos ? "merged" : "final");
    };
    EXPECT_EQ(Chunking::chunkedSummarize(request(longTranscript(950)), environment(8)), "final");
    EXPECT_EQ(server.peakConcurrency(), 3);
    const auto all = seen();
    const auto merge = std::find_if(all.begin(), all.end(), [](const ChatCall& c) {
        return c.user.find("Merge Level 1") != std::string::npos;
    });
    ASSERT_NE(merge, all.end());
    std::string inOrder = "- note 1";
    for (int i = 2; i <= 10; ++i)
        inOrder += "\n- note " + std::to_string(i);
    EXPECT_TRUE(merge->user.ends_with("】\n" + inOrder)) << merge->user;
    EXPECT_TRUE(all.back().user.find("【Compressed Notes】\nmerged") != std::string::npos);
}

TEST_F(RemoteAIChunkingPipelineTest, TheFirstFailingNoteEndsTheRunAndStopsTheOthers) {
    answer = [](const ChatCall& call) {
        // The failure comes once the next two chunks are being asked, which then stall.
        if (fragmentOf(call.user).starts_with("Conversation Record 1/")) {
            std::this_thread::sleep_for(200ms);
            return CannedReply::with(500, "down");
        }
        return CannedReply::stalled();
    };
    try {
        Chunking::chunkedSummarize(request(longTranscript(950)), environment(8));
        FAIL() << "no error";
    } catch (const RemoteAISummarizationError& error) {
        EXPECT_EQ(error.detail(), "status=500 body=down");
    }
    EXPECT_EQ(server.requestCount(), 3u);
}

TEST_F(RemoteAIChunkingPipelineTest, AStoredNoteIsTakenOverAndNotAskedAgain) {
    SummaryNoteStore::saveIntermediateNoteShared("stored note", "Conversation Record 2/3", 1, dir.path());
    EXPECT_EQ(Chunking::chunkedSummarize(request(longTranscript(250)), environment()), "final summary");
    for (const auto& call : seen())
        EXPECT_NE(fragmentOf(call.user), "Conversation Record 2/3");
    EXPECT_TRUE(seen().at(seen().size() - 2).user.find("- stored note") != std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "intermediate" / "001_Conversation Record 1_3.txt"));
    EXPECT_TRUE(
        std::filesystem::exists(dir.path() / "intermediate" / "003_Conversation Record 3_3_input.txt"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "intermediate" / "001_merge_l1_001.txt"));
}

TEST_F(RemoteAIChunkingPipelineTest, MaterialOfOneChunkIsOneCallWithoutFiles) {
    EXPECT_EQ(Chunking::chunkedSummarize(request("[SPEAKER_00 00:00:05] hello\n"), environment()),
              "final summary");
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_TRUE(seen()[0].user.find("【Compressed Notes】\n") != std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "intermediate"));
}

TEST_F(RemoteAIChunkingPipelineTest, NotesThatDoNotShrinkAreJoinedWithoutAMergeCall) {
    const std::vector<std::string> big = {std::string(7000, 'a'), std::string(7000, 'b')};
    EXPECT_EQ(Chunking::mergeIntermediateNotesForAPI(merge(big), environment()), big[0] + "\n" + big[1]);
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_TRUE(logs.contains("merge not converging at level 1: 2 notes → 2 batches, concatenating"));
}

TEST_F(RemoteAIChunkingPipelineTest, TwoSmallNotesMergeOnceAndAnOverflowingBatchGoesOnUnmerged) {
    EXPECT_EQ(Chunking::mergeIntermediateNotesForAPI(merge({"one", "two"}), environment()), "merged notes");
    EXPECT_EQ(server.requestCount(), 1u);

    answer = [](const ChatCall&) { return testing::contextLimitAnswer(); };
    EXPECT_EQ(Chunking::mergeIntermediateNotesForAPI(merge({"one", "two"}), environment()), "- one\n- two");
    EXPECT_EQ(notes, std::vector<std::string>{"provider=openai;strategy=merge_batch_skip;level=1"});
}

TEST_F(RemoteAIChunkingPipelineTest, AnOverflowingFinalOverviewIsAskedAgainWithoutTheScreenshotList) {
    auto withList = request("T");
    withList.screenshotContext = "- 00:00:05 → shot.jpg";
    answer = [](const ChatCall& call) {
        return call.user.find("shot.jpg") != std::string::npos ? testing::contextLimitAnswer()
                                                               : testing::openAIAnswer("final without list");
    };
    EXPECT_EQ(Chunking::summarizeFinalOverview(withList, "merged", std::nullopt, environment()),
              "final without list");
    EXPECT_EQ(notes,
              std::vector<std::string>{"provider=openai;reason=context_limit;strategy=final_no_screenshot"});

    notes.clear();
    answer = [](const ChatCall&) { return testing::contextLimitAnswer(); };
    EXPECT_EQ(Chunking::summarizeFinalOverview(withList, "merged", std::nullopt, environment()), "merged");
    EXPECT_EQ(notes,
              (std::vector<std::string>{"provider=openai;reason=context_limit;strategy=final_no_screenshot",
                                        "provider=openai;reason=context_limit;strategy=final_skip"}));

    notes.clear();
    const auto before = server.requestCount();
    EXPECT_EQ(Chunking::summarizeFinalOverview(request("T"), "merged", std::nullopt, environment()),
              "merged");
    EXPECT_EQ(notes, std::vector<std::string>{"provider=openai;reason=context_limit;strategy=final_skip"});
    EXPECT_EQ(server.requestCount(), before + 1);
}

TEST_F(RemoteAIChunkingPipelineTest, AnotherErrorOfTheFinalOverviewEndsTheRun) {
    answer = [](const ChatCall&) { return CannedReply::with(401, "bad key"); };
    EXPECT_THROW(Chunking::summarizeFinalOverview(request("T"), "merged", std::nullopt, environment()),
                 RemoteAISummarizationError);
    EXPECT_TRUE(notes.empty());
}

} // namespace
} // namespace velnote
