// The tokenizer on the real vocabularies that scripts/fetch-models puts into the dependency cache.

#include "engine/speech/tokenizer/BpeTokenizer.h"
#include "engine/speech/tokenizer/TokenizerLoader.h"
#include "engine/speech/tokenizer/WhisperTokenizerWrapper.h"
#include "platform/fs/Files.h"
#include "support/TempDir.h"
#include "support/TestTokenizer.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace vocalith {
namespace {

namespace fs = std::filesystem;

fs::path modelsFolder() {
    if (const char* cache = std::getenv("VELNOTE_DEPS_CACHE"))
        return fs::path(cache) / "models";
    return fs::path(std::getenv("HOME") ? std::getenv("HOME") : "") / ".cache/velnote-deps/models";
}

class TokenizerModelTest : public ::testing::Test {
  protected:
    // The cached vocabulary, with the configuration the model converter writes beside it.
    std::shared_ptr<WhisperTokenizerWrapper> load(const std::string& model, ModelVariant variant) {
        const fs::path source = modelsFolder() / model / "tokenizer.json";
        if (!fs::exists(source))
            return nullptr;
        fs::copy_file(source, dir_ / "tokenizer.json");
        velnote::platform::writeFileAtomically(dir_ / "tokenizer_config.json",
                                               testing::testTokenizerConfig().dump());
        return std::dynamic_pointer_cast<WhisperTokenizerWrapper>(
            loadTokenizer(variant, dir_.path(), {}, false, "http://127.0.0.1:1"));
    }

    velnote::testing::TempDir dir_;
};

TEST_F(TokenizerModelTest, MultilingualVocabulary) {
    const auto tokenizer = load("whisper-base", ModelVariant::base);
    if (!tokenizer)
        GTEST_SKIP() << "no whisper-base tokenizer in " << modelsFolder() << " (run scripts/fetch-models)";
    EXPECT_EQ(tokenizer->specialTokens(), (SpecialTokens{}));
    EXPECT_EQ(tokenizer->allLanguageTokens().size(), 99u);
    EXPECT_TRUE(tokenizer->allLanguageTokens().contains(50266)); // <|ja|>
    EXPECT_EQ(tokenizer->encode(" Hello world."), (std::vector<std::int64_t>{2425, 1002, 13}));
    for (const std::string text :
         {" Hello world, the meeting starts at 10:30.", " こんにちは、今日の会議を始めます。",
          " Hushtape の議事録: 3 items — 次回は来週です!"}) {
        const auto ids = tokenizer->encode(text);
        for (const auto id : ids)
            EXPECT_LT(id, 50257) << text;
        EXPECT_EQ(tokenizer->decode(ids), text);
    }
    const std::vector<std::int64_t> prompt = {50258, 50266, 50359, 50364};
    EXPECT_EQ(tokenizer->decode(prompt), "<|startoftranscript|><|ja|><|transcribe|><|0.00|>");
    EXPECT_EQ(tokenizer->encode("<|startoftranscript|><|ja|><|transcribe|><|0.00|>"), prompt);
    EXPECT_EQ(tokenizer->decode({50257 + 1500 + 107}), "<|30.00|>");
}

TEST_F(TokenizerModelTest, EnglishOnlyVocabularyOfTheOlderLayout) {
    const auto tokenizer = load("whisper-tiny.en", ModelVariant::tinyEn);
    if (!tokenizer)
        GTEST_SKIP() << "no whisper-tiny.en tokenizer in " << modelsFolder() << " (run scripts/fetch-models)";
    const SpecialTokens& s = tokenizer->specialTokens();
    EXPECT_EQ(s.endToken, 50256);
    EXPECT_EQ(s.startOfTranscriptToken, 50257);
    EXPECT_EQ(s.noSpeechToken, 50361);
    EXPECT_EQ(s.noTimestampsToken, 50362);
    EXPECT_EQ(s.timeTokenBegin, 50363);
    EXPECT_EQ(s.whitespaceToken, 220);
    EXPECT_EQ(tokenizer->encode(" Hello"), (std::vector<std::int64_t>{18435}));
    const std::string text = " The quick brown fox, 2 dogs & a café.";
    EXPECT_EQ(tokenizer->decode(tokenizer->encode(text)), text);
}

} // namespace
} // namespace vocalith
