#include "platform/concurrency/CancellationError.h"
#include "platform/logging/Logger.h"
#include "platform/text/Characters.h"
#include "providers/ondevice/AppleFoundationModelError.h"
#include "providers/ondevice/AppleFoundationModelService.h"
#include "providers/ondevice/LlamaOnDeviceModel.h"
#include "support/TempDir.h"
#include "support/TinyLlamaGguf.h"

#include <fstream>
#include <gtest/gtest.h>

namespace velnote {
namespace {

using State = OnDeviceModelAvailability::State;

class LlamaOnDeviceAdapterTest : public ::testing::Test {
  protected:
    std::shared_ptr<LlamaOnDeviceModel> modelAt(const std::filesystem::path& path) {
        return std::make_shared<LlamaOnDeviceModel>(
            LlamaOnDeviceModel::Options{.modelPath = path, .maxResponseTokens = 8, .threads = 2});
    }

    testing::TempDir dir;
    ModelExecutionScheduler scheduler;
};

TEST_F(LlamaOnDeviceAdapterTest, AMissingOrBrokenFileMakesTheModelUnavailable) {
    auto missing = modelAt(dir / "absent.gguf");
    EXPECT_EQ(missing->availability().state, State::modelNotReady);
    try {
        AppleFoundationModelService(missing, scheduler).summarize("sys", "user");
        FAIL() << "no error";
    } catch (const AppleFoundationModelError& e) {
        EXPECT_EQ(e.kind(), AppleFoundationModelError::Kind::unavailable);
        EXPECT_EQ(e.reason(), AppleFoundationModelService::unavailabilityDescription(
                                  {.state = State::modelNotReady, .otherReason = ""}));
    }

    std::ofstream(dir / "broken.gguf") << "GGUF but not really";
    platform::LogCapture logs;
    const auto broken = modelAt(dir / "broken.gguf")->availability();
    EXPECT_EQ(broken.state, State::other);
    EXPECT_NE(broken.otherReason.find("broken.gguf"), std::string::npos);
    EXPECT_TRUE(logs.contains("llama.cpp: "));
}

TEST_F(LlamaOnDeviceAdapterTest, ATinyModelAnswersThroughTheService) {
    testing::writeTinyLlamaGguf(dir / "tiny.gguf");
    auto model = modelAt(dir / "tiny.gguf");
    EXPECT_TRUE(model->availability().isAvailable());
    EXPECT_TRUE(model->supportsLocale("ja_JP"));
    // Zero weights: every logit ties and greedy decoding takes token 0, "!", up to the limit.
    EXPECT_EQ(model->respond("Be brief.", "the meeting", {}), "!!!!!!!!");
    EXPECT_EQ(AppleFoundationModelService(model, scheduler).summarize("Be brief.", "the meeting"),
              "!!!!!!!!");
}

TEST_F(LlamaOnDeviceAdapterTest, AnAnswerOfBrokenBytesComesBackAsText) {
    // "ã" is the byte token of 0xE3, the first byte of a three-byte character: every answer of this
    // model is lead bytes only.
    testing::TinyLlamaShape shape;
    shape.favouredToken = "ã";
    testing::writeTinyLlamaGguf(dir / "bytes.gguf", shape);
    const struct {
        int tokens;
        std::string answer;
    } cases[] = {
        {1, ""}, // the one character the limit cut in half is dropped
        {4, "\uFFFD\uFFFD\uFFFD"},
    };
    for (const auto& c : cases) {
        LlamaOnDeviceModel model(
            {.modelPath = dir / "bytes.gguf", .maxResponseTokens = c.tokens, .threads = 2});
        const std::string answer = model.respond("sys", "user", {});
        EXPECT_EQ(answer, c.answer) << c.tokens;
        EXPECT_TRUE(platform::isValidUtf8(answer)) << c.tokens;
    }
}

TEST_F(LlamaOnDeviceAdapterTest, APromptBeyondTheTrainedContextIsTooLarge) {
    testing::TinyLlamaShape shape;
    shape.contextLength = 128;
    testing::writeTinyLlamaGguf(dir / "tiny.gguf", shape);
    auto model = modelAt(dir / "tiny.gguf");
    try {
        AppleFoundationModelService(model, scheduler).summarize("sys", std::string(400, 'x'));
        FAIL() << "no error";
    } catch (const AppleFoundationModelError& e) {
        EXPECT_EQ(e.kind(), AppleFoundationModelError::Kind::contextTooLarge);
    }
}

TEST_F(LlamaOnDeviceAdapterTest, ChatMarkersInTheCallersTextsAreNotTurnsOfTheChat) {
    // Kept, a hundred turn ends in a transcript would overflow this model's context.
    testing::TinyLlamaShape shape;
    shape.contextLength = 64;
    shape.controlTokens = {"<|im_start|>", "<|im_end|>"};
    testing::writeTinyLlamaGguf(dir / "chat.gguf", shape);
    std::string transcript;
    for (int i = 0; i < 100; ++i)
        transcript += "<|im_end|>";
    EXPECT_EQ(modelAt(dir / "chat.gguf")->respond("sys<|im_start|>", transcript, {}), "!!!!!!!!");
}

TEST_F(LlamaOnDeviceAdapterTest, AStopEndsTheGeneration) {
    testing::writeTinyLlamaGguf(dir / "tiny.gguf");
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(modelAt(dir / "tiny.gguf")->respond("sys", "short", stop.get_token()),
                 platform::CancellationError);
}

} // namespace
} // namespace velnote
