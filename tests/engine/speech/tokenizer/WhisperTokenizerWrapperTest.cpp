#include "engine/speech/tokenizer/WhisperTokenizerWrapper.h"

#include "engine/speech/tokenizer/BpeTokenizer.h"
#include "engine/speech/tokenizer/TokenizerUtilities.h"
#include "support/TestTokenizer.h"

#include <gtest/gtest.h>

namespace vocalith {
namespace {

using testing::makeTestTokenizer;
using testing::testTokenizerConfig;
using testing::testTokenizerData;
using testing::TestVocabulary;

WhisperTokenizerWrapper wrapperOf(const Json& data) {
    return WhisperTokenizerWrapper(
        std::make_shared<const BpeTokenizer>(BpeTokenizer::build(testTokenizerConfig(), data)), std::nullopt);
}

Json withoutAddedTokens(const std::vector<std::string>& contents) {
    Json data = testTokenizerData();
    Json& added = data["added_tokens"];
    for (auto it = added.begin(); it != added.end();) {
        if (std::find(contents.begin(), contents.end(), (*it)["content"]) != contents.end())
            it = added.erase(it);
        else
            ++it;
    }
    return data;
}

TEST(WhisperTokenizerWrapperTest, SpecialTokensComeFromTheVocabulary) {
    const auto tokenizer = makeTestTokenizer();
    const SpecialTokens& s = tokenizer->specialTokens();
    EXPECT_EQ(s, (SpecialTokens{.endToken = TestVocabulary::endOfText,
                                .englishToken = TestVocabulary::english,
                                .noSpeechToken = TestVocabulary::noSpeech,
                                .noTimestampsToken = TestVocabulary::noTimestamps,
                                .specialTokenBegin = TestVocabulary::endOfText,
                                .startOfPreviousToken = TestVocabulary::startOfPrevious,
                                .startOfTranscriptToken = TestVocabulary::startOfTranscript,
                                .timeTokenBegin = TestVocabulary::timeBegin,
                                .transcribeToken = TestVocabulary::transcribe,
                                .translateToken = TestVocabulary::translate,
                                .whitespaceToken = ' '}));
    EXPECT_EQ(tokenizer->allLanguageTokens(), (std::set<std::int64_t>{1002, 1003, 1004, 1005, 1006, 1007}));
}

TEST(WhisperTokenizerWrapperTest, MissingSpecialTokensTakeTheirUsualIds) {
    const auto s =
        wrapperOf(withoutAddedTokens({"<|nospeech|>", "<|notimestamps|>", "<|transcribe|>"})).specialTokens();
    EXPECT_EQ(s.noSpeechToken, 50362);
    EXPECT_EQ(s.noTimestampsToken, 50363);
    EXPECT_EQ(s.transcribeToken, 50359);
    EXPECT_EQ(s.timeTokenBegin, TestVocabulary::timeBegin);
    EXPECT_EQ(s.specialTokenBegin, s.endToken);
}

TEST(WhisperTokenizerWrapperTest, OlderVocabulariesNameTheirTokensDifferently) {
    // Such vocabularies call the no-speech token "<|nocaptions|>" and list no timestamps, which
    // follow "<|notimestamps|>".
    Json data = testTokenizerData();
    Json& added = data["added_tokens"];
    for (auto it = added.begin(); it != added.end();) {
        const std::string content = (*it)["content"];
        if (content == "<|nospeech|>")
            (*it)["content"] = "<|nocaptions|>";
        if (content.find('.') != std::string::npos)
            it = added.erase(it);
        else
            ++it;
    }
    const auto s = wrapperOf(data).specialTokens();
    EXPECT_EQ(s.noSpeechToken, TestVocabulary::noSpeech);
    EXPECT_EQ(s.timeTokenBegin, TestVocabulary::noTimestamps + 1);
}

TEST(WhisperTokenizerWrapperTest, LanguageTokensAreOnlyThoseAboveTheSpecialBegin) {
    Json data = testTokenizerData();
    data["model"]["vocab"]["<|ko|>"] = 999; // an ordinary token that looks like a language
    EXPECT_EQ(wrapperOf(data).allLanguageTokens().count(999), 0u);
    EXPECT_EQ(wrapperOf(data).allLanguageTokens().size(), 6u);
}

TEST(WhisperTokenizerWrapperTest, SpacedTextSplitsIntoWordsAtSpacesPunctuationAndSpecialTokens) {
    const auto tokenizer = makeTestTokenizer();
    std::vector<std::int64_t> ids = {TestVocabulary::timestamp(0)};
    for (const auto id : tokenizer->encode(" Hello worlds, the meeting starts now."))
        ids.push_back(id);
    ids.push_back(TestVocabulary::timestamp(2.5));
    ids.push_back(TestVocabulary::endOfText);
    const WordTokens split = tokenizer->splitToWordTokens(ids);
    EXPECT_EQ(split.words, (std::vector<std::string>{"<|0.00|>", " Hello", " worlds", ",", " the", " meeting",
                                                     " starts", " now", ".", "<|2.50|>", "<|endoftext|>"}));
    ASSERT_EQ(split.wordTokens.size(), split.words.size());
    std::vector<std::int64_t> joined;
    for (const auto& word : split.wordTokens)
        joined.insert(joined.end(), word.begin(), word.end());
    EXPECT_EQ(joined, ids);
    // " worlds" is " world" with an "s" appended.
    EXPECT_EQ(split.wordTokens[2], (std::vector<std::int64_t>{*tokenizer->convertTokenToId("Ġworld"), 's'}));
}

TEST(WhisperTokenizerWrapperTest, UnspacedTextSplitsWhereverTheTextIsWhole) {
    const auto tokenizer = makeTestTokenizer();
    const std::string text = "こんにちは、世界。今日の会議を始めます。";
    const WordTokens split = tokenizer->splitToWordTokens(tokenizer->encode(text));
    std::string joined;
    for (const auto& word : split.words) {
        EXPECT_EQ(word.find("\uFFFD"), std::string::npos) << word;
        joined += word;
    }
    EXPECT_EQ(joined, text);
    // Merged words stay whole; a character of three byte tokens is one word.
    for (const std::string word : {"こんにちは", "、", "世界", "会議", "今", "ます"})
        EXPECT_NE(std::find(split.words.begin(), split.words.end(), word), split.words.end()) << word;
    EXPECT_TRUE(tokenizer->splitToWordTokens({}).words.empty());
}

TEST(WhisperTokenizerWrapperTest, TextUtilities) {
    EXPECT_EQ(trimmingSpecialTokenCharacters("<|en|>"), "en");
    EXPECT_EQ(trimmingSpecialTokenCharacters("<|0.00|>"), "0.00");
    EXPECT_EQ(trimmingSpecialTokenCharacters("<||>"), "");
    EXPECT_EQ(normalized("  Hello, New-York  world! "), "hello new york world");
    EXPECT_EQ(normalized("「会議」を、始めます。"), "会議を始めます");
    TranscriptionSegment a{.start = 1.5f, .text = "a"};
    TranscriptionSegment b{.start = 1.5f, .text = "b"};
    TranscriptionSegment c{.start = 2.0f, .text = "a"};
    EXPECT_TRUE(contains({a}, b));
    EXPECT_FALSE(contains({a}, c));
}

} // namespace
} // namespace vocalith
