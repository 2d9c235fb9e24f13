#include "summary/local/LlamaCppTextGenerator.h"

#include "platform/concurrency/CancellationError.h"
#include "platform/logging/Logger.h"
#include "support/TempDir.h"
#include "support/TinyLlamaGguf.h"

#include <fstream>
#include <gtest/gtest.h>
#include <llama.h>
#include <random>

namespace velnote {
namespace {

using testing::TempDir;
using testing::TinyLlamaShape;

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
const std::string kPrompt = "<|im_start|>user\nhello<|im_end|>\n<|im_start|>assistant";

LlamaCppTextGenerator::Options machine(std::uint64_t memoryBytes, unsigned processors = 4) {
    return {.machine = {.physicalMemoryBytes = memoryBytes, .processorCount = processors},
            .executor = nullptr};
}

std::filesystem::path writeModel(const TempDir& dir, const std::string& name, const std::string& favoured) {
    const auto path = dir / name;
    TinyLlamaShape shape;
    shape.favouredToken = favoured;
    shape.controlTokens = {"<|im_start|>", "<|im_end|>"};
    testing::writeTinyLlamaGguf(path, shape);
    return path;
}

// A file of `bytes` that takes no room on disk.
std::filesystem::path sparseFile(const TempDir& dir, const std::string& name, std::uint64_t bytes) {
    const auto path = dir / name;
    std::ofstream(path).close();
    std::filesystem::resize_file(path, bytes);
    return path;
}

TEST(LlamaCppTextGeneratorTest, GpuLayersFollowTheModelSizeAndTheMachineMemory) {
    struct Case {
        const char* sizeClass;
        double memoryGB;
        std::int32_t layers;
    };
    for (const Case& c : {Case{"small", 4, 99}, Case{"medium", 24, 99}, Case{"medium", 16, 40},
                          Case{"medium", 12, 20}, Case{"medium", 6, 10}, Case{"large", 32, 60},
                          Case{"large", 16, 20}, Case{"large", 12, 0}, Case{"unknown", 1, 99}})
        EXPECT_EQ(LlamaCppTextGenerator::nGpuLayers(c.sizeClass, c.memoryGB), c.layers)
            << c.sizeClass << " " << c.memoryGB;

    TempDir dir;
    const auto small = sparseFile(dir, "small.gguf", kGiB * 24 / 10);
    const auto large = sparseFile(dir, "large.gguf", kGiB * 5);
    EXPECT_EQ(LlamaCppTextGenerator(machine(8 * kGiB)).calculateOptimalGpuLayers(small), 99);
    EXPECT_EQ(LlamaCppTextGenerator(machine(32 * kGiB)).calculateOptimalGpuLayers(large), 60);
    EXPECT_EQ(LlamaCppTextGenerator(machine(16 * kGiB)).calculateOptimalGpuLayers(large), 20);
    EXPECT_EQ(LlamaCppTextGenerator::estimateParamSize(sparseFile(dir, "edge.gguf", kGiB * 45 / 10)),
              "large");
    EXPECT_EQ(LlamaCppTextGenerator::estimateParamSize(dir / "missing.gguf"), "medium");
}

TEST(LlamaCppTextGeneratorTest, ThreadsAndContextSize) {
    EXPECT_EQ(LlamaCppTextGenerator::threadCount(0), 1);
    EXPECT_EQ(LlamaCppTextGenerator::threadCount(2), 1);
    EXPECT_EQ(LlamaCppTextGenerator::threadCount(4), 2);
    EXPECT_EQ(LlamaCppTextGenerator::threadCount(16), 8);
    EXPECT_EQ(LlamaCppTextGenerator::contextSize(1000, 400), 1536);
    EXPECT_EQ(LlamaCppTextGenerator::contextSize(1072, 400), 1536);
    EXPECT_EQ(LlamaCppTextGenerator::contextSize(1073, 400), 2048);
    EXPECT_EQ(LlamaCppTextGenerator::contextSize(10, -5), 512);
    EXPECT_EQ(LlamaCppTextGenerator::contextSize(10, INT64_MAX), 2147484160); // no overflow
}

TEST(LlamaCppTextGeneratorTest, AnswerBytesBecomeTextWithoutLosingTheAnswer) {
    // A budget that ends inside a character drops only that character.
    EXPECT_EQ(LlamaCppTextGenerator::answerText("決定\xE4\xBA"), "決定");
    EXPECT_EQ(LlamaCppTextGenerator::answerText("ok \xF0\x9F\x98"), "ok");
    EXPECT_EQ(LlamaCppTextGenerator::answerText("\n  決定 \n"), "決定");
    EXPECT_EQ(LlamaCppTextGenerator::answerText("a\xFF"
                                                "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(LlamaCppTextGenerator::answerText("a\x80"), "a\xEF\xBF\xBD");
    EXPECT_EQ(LlamaCppTextGenerator::answerText(""), "");
}

TEST(LlamaCppTextGeneratorTest, ChatMarkersOfThePromptAreTheModelsSpecialTokens) {
    TempDir dir;
    const auto path = writeModel(dir, "tiny.gguf", "");
    llama_backend_init();
    auto params = llama_model_default_params();
    std::unique_ptr<llama_model, decltype(&llama_model_free)> model(
        llama_model_load_from_file(path.c_str(), params), &llama_model_free);
    ASSERT_TRUE(model);
    const llama_vocab* vocab = llama_model_get_vocab(model.get());
    const std::vector<llama_token> tokens = LlamaCppTextGenerator::tokenizePrompt("<|im_start|>user", vocab);
    const llama_token start = llama_vocab_n_tokens(vocab) - 2; // the first added control token
    ASSERT_FALSE(tokens.empty());
    EXPECT_NE(std::find(tokens.begin(), tokens.end(), start), tokens.end());
    EXPECT_LE(tokens.size(), 6u); // the marker, "user" and at most a BOS; not twelve byte tokens
}

TEST(LlamaCppTextGeneratorTest, AnAnswerEndingAtOnceIsRetriedOnceAndStaysEmpty) {
    TempDir dir;
    const auto path = writeModel(dir, "ends.gguf", "<|endoftext|>");
    LlamaCppTextGenerator generator(machine(8 * kGiB));
    platform::LogCapture log;
    EXPECT_EQ(generator.generateAsync(kPrompt, path, 32), "");
    std::size_t retries = 0;
    for (const auto& record : log.records())
        retries += record.message.find("output looked degenerate") != std::string::npos;
    EXPECT_EQ(retries, 1u);
    EXPECT_EQ(generator.loadCount(), 1); // the retry reuses the loaded model
}

TEST(LlamaCppTextGeneratorTest, ADegenerateFirstAnswerGivesTheSecondUnchanged) {
    TempDir dir;
    const auto path = writeModel(dir, "letter.gguf", "a");
    LlamaCppTextGenerator generator(machine(8 * kGiB));
    platform::LogCapture log;
    EXPECT_EQ(generator.generateAsync(kPrompt, path, 12), "aaaaaaaaaaaa");
    EXPECT_TRUE(log.contains("retrying once with adjusted sampling"));
    EXPECT_EQ(generator.generate(kPrompt, path, 0, 1, 0.4f, [] { return false; }), "");
}

TEST(LlamaCppTextGeneratorTest, CancellationEndsTheAttemptBeforeTheNextToken) {
    TempDir dir;
    const auto path = writeModel(dir, "letter.gguf", "a");
    LlamaCppTextGenerator generator(machine(8 * kGiB));
    int checks = 0;
    EXPECT_THROW(generator.generate(kPrompt, path, 100, 1, 0.4f, [&] { return ++checks == 3; }),
                 platform::CancellationError);
    EXPECT_EQ(checks, 3);

    // Already cancelled: the model is loaded and the prompt decoded, then the attempt ends, with
    // no second attempt.
    LlamaCppTextGenerator fresh(machine(8 * kGiB));
    std::stop_source stop;
    stop.request_stop();
    platform::LogCapture log;
    EXPECT_THROW(fresh.generateAsync(kPrompt, path, 100, stop.get_token()), platform::CancellationError);
    EXPECT_EQ(fresh.loadedModelPath(), path.string());
    EXPECT_FALSE(log.contains("degenerate"));
}

TEST(LlamaCppTextGeneratorTest, TheModelStaysLoadedUntilItsFileOrLayerCountChanges) {
    TempDir dir;
    const auto path = writeModel(dir, "letter.gguf", "a");
    const auto other = writeModel(dir, "other.gguf", "a");
    LlamaCppTextGenerator generator(machine(8 * kGiB));
    const auto answer = [&](const std::filesystem::path& model) {
        return generator.generate(kPrompt, model, 2, 1, 0.4f, [] { return false; });
    };
    EXPECT_EQ(answer(path), "aa");
    EXPECT_EQ(answer(path), "aa");
    EXPECT_EQ(generator.loadCount(), 1);
    EXPECT_EQ(answer(other), "aa");
    EXPECT_EQ(generator.loadedModelPath(), other.string());
    EXPECT_EQ(generator.loadCount(), 2);
    // Grown into the medium class, the same file gets 20 GPU layers on 8 GiB instead of 99.
    std::filesystem::resize_file(other, kGiB * 3);
    EXPECT_EQ(answer(other), "aa");
    EXPECT_EQ(generator.loadCount(), 3);
}

TEST(LlamaCppTextGeneratorTest, AFileThatDoesNotLoadLeavesNoModelLoaded) {
    TempDir dir;
    const auto good = writeModel(dir, "letter.gguf", "a");
    const auto bad = dir / "random.gguf";
    std::mt19937 random(7);
    std::string bytes(4096, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random());
    std::ofstream(bad, std::ios::binary) << bytes;

    LlamaCppTextGenerator generator(machine(8 * kGiB));
    EXPECT_EQ(generator.generateAsync(kPrompt, good, 1), "a");
    platform::LogCapture log;
    try {
        generator.generateAsync(kPrompt, bad, 8);
        FAIL() << "loaded random bytes";
    } catch (const LlamaCppGenerationError& error) {
        EXPECT_EQ(error.kind(), LlamaCppGenerationError::Kind::cannotLoadModel);
        EXPECT_EQ(std::string(error.what()), "llama.cpp model load failed: " + bad.string());
    }
    EXPECT_EQ(generator.loadedModelPath(), std::nullopt);
    // llama.cpp's own errors reach the log, even after a generation; its progress lines do not.
    std::size_t errors = 0;
    for (const auto& record : log.records()) {
        if (record.message.starts_with("llama.cpp: ")) {
            EXPECT_EQ(record.level, platform::LogLevel::error) << record.message;
            ++errors;
        }
    }
    EXPECT_GT(errors, 0u);
}

} // namespace
} // namespace velnote
