#include "engine/speech/tokenizer/BpeTokenizer.h"

#include "engine/speech/tokenizer/TokenizerError.h"
#include "engine/speech/tokenizer/TokenizerFiles.h"
#include "support/TempDir.h"
#include "support/TestTokenizer.h"

#include <gtest/gtest.h>

namespace vocalith {
namespace {

using testing::byteSymbols;
using testing::testTokenizerConfig;
using testing::testTokenizerData;
using testing::TestVocabulary;
using Code = TokenizerError::Code;

BpeTokenizer testTokenizer() {
    return BpeTokenizer::build(testTokenizerConfig(), testTokenizerData());
}

// The byte symbols (id = byte) and the given merges, nothing else.
BpeTokenizer withMerges(const std::vector<std::pair<std::string, std::string>>& merges) {
    Json data = testTokenizerData();
    Json& vocab = data["model"]["vocab"];
    vocab = Json::object();
    for (int b = 0; b < 256; ++b)
        vocab[byteSymbols(std::string(1, static_cast<char>(b)))] = b;
    data["model"]["merges"] = Json::array();
    data["added_tokens"] = Json::array();
    int next = 256;
    for (const auto& [left, right] : merges) {
        data["model"]["merges"].push_back(left + " " + right);
        if (!vocab.contains(left + right))
            vocab[left + right] = next++;
    }
    return BpeTokenizer::build(testTokenizerConfig(), data);
}

std::vector<std::string> tokensOf(const BpeTokenizer& tokenizer, const std::string& text) {
    std::vector<std::string> tokens;
    for (const auto id : tokenizer.encode(text))
        tokens.push_back(*tokenizer.idToToken(id));
    return tokens;
}

TEST(BpeTokenizerTest, DecodingGivesBackTheEncodedText) {
    const BpeTokenizer tokenizer = testTokenizer();
    for (const std::string text : {
             "Hello world, the meeting starts now.",
             "こんにちは、世界。会議を始めます。",
             "Hushtape の会議 notes: 3 items (ok?) — done!",
             "  two  spaces\n\nnew line\t tab  ",
             "👍🏽 it's we'll I'M 1234567 ٣٤",
             "",
         }) {
        EXPECT_EQ(tokenizer.decode(tokenizer.encode(text)), text) << text;
    }
}

TEST(BpeTokenizerTest, MergedWordsBecomeOneToken) {
    const BpeTokenizer tokenizer = testTokenizer();
    const auto id = [&](const std::string& text) { return *tokenizer.tokenToId(byteSymbols(text)); };
    EXPECT_EQ(tokenizer.encode("Hello world"), (std::vector<std::int64_t>{id("Hello"), id(" world")}));
    EXPECT_EQ(tokenizer.encode("会議"), (std::vector<std::int64_t>{id("会議")}));
    // "今" (E4 BB 8A) is in no merged word.
    EXPECT_EQ(tokenizer.encode("今"), (std::vector<std::int64_t>{0xE4, 0xBB, 0x8A}));
}

TEST(BpeTokenizerTest, MergesApplyByRankNotFromTheLeft) {
    const BpeTokenizer tokenizer = withMerges(
        {{"Ġ", "t"}, {"h", "e"}, {"Ġt", "he"}, {"l", "l"}, {"e", "ll"}, {"h", "ell"}, {"hell", "o"}});
    EXPECT_EQ(tokensOf(tokenizer, " the"), (std::vector<std::string>{"Ġthe"}));
    // "h e" outranks "e ll", so "hell" can never form.
    EXPECT_EQ(tokensOf(tokenizer, " hello"), (std::vector<std::string>{"Ġ", "he", "ll", "o"}));
}

TEST(BpeTokenizerTest, WordsAreCutBeforeMerging) {
    const BpeTokenizer tokenizer =
        withMerges({{"t", "'"}, {"'", "s"}, {"Ġ", "Ġ"}, {"Ġ", "a"}, {"a", "Ġ"}, {"1", "a"}});
    // A contraction is a word of its own.
    EXPECT_EQ(tokensOf(tokenizer, "it's"), (std::vector<std::string>{"i", "t", "'s"}));
    // A run of spaces leaves its last space to the word after it; spaces at the end stay together.
    EXPECT_EQ(tokensOf(tokenizer, "   a  "), (std::vector<std::string>{"ĠĠ", "Ġa", "ĠĠ"}));
    // Letters, numbers and other symbols are separate words.
    EXPECT_EQ(tokensOf(tokenizer, "1a"), (std::vector<std::string>{"1", "a"}));
}

TEST(BpeTokenizerTest, AddedTokensInTheTextBecomeTheirIds) {
    const BpeTokenizer tokenizer = testTokenizer();
    const auto ids = tokenizer.encode("<|startoftranscript|><|ja|> hello<|endoftext|>");
    ASSERT_EQ(ids.size(), 4u);
    EXPECT_EQ(ids[0], TestVocabulary::startOfTranscript);
    EXPECT_EQ(ids[1], TestVocabulary::japanese);
    EXPECT_EQ(ids[2], *tokenizer.tokenToId(byteSymbols(" hello")));
    EXPECT_EQ(ids[3], TestVocabulary::endOfText);
    EXPECT_EQ(tokenizer.decode(ids), "<|startoftranscript|><|ja|> hello<|endoftext|>");
    EXPECT_EQ(tokenizer.idToToken(TestVocabulary::timestamp(1.5)), "<|1.50|>");
    EXPECT_EQ(tokenizer.tokenToId("<|30.00|>"), TestVocabulary::timeBegin + 1500);
}

TEST(BpeTokenizerTest, UnfinishedCharactersDecodeAsReplacementCharacters) {
    const BpeTokenizer tokenizer = testTokenizer();
    // "会" is E4 BC 9A.
    EXPECT_EQ(tokenizer.decode({0xE4}), "\uFFFD");
    EXPECT_EQ(tokenizer.decode({0xE4, 0xBC}), "\uFFFD");
    EXPECT_EQ(tokenizer.decode({0xE4, 0xBC, 0x9A}), "会");
    // A special token ends the run of bytes before it.
    EXPECT_EQ(tokenizer.decode({0xE4, 0xBC, TestVocabulary::endOfText, 0x9A}), "\uFFFD<|endoftext|>\uFFFD");
    // Ids the vocabulary lacks are left out.
    EXPECT_EQ(tokenizer.decode({'a', 999, -1, 1 << 30, 'b'}), "ab");
    EXPECT_EQ(tokenizer.idToToken(999), std::nullopt);
}

struct HostileCase {
    const char* what;
    std::string text; // tokenizer.json
    Code code;
};

std::string withVocabEntry(const std::string& entry) {
    std::string text = testTokenizerData().dump();
    const auto vocab = text.find("\"vocab\":{") + 9;
    return text.insert(vocab, entry + ",");
}

TEST(BpeTokenizerTest, HostileFilesAreRefusedWithTheTokenizersOwnError) {
    std::string deep = "{\"model\":" + std::string(5000, '[') + std::string(5000, ']') + "}";
    std::string tooManyMerges = testTokenizerData().dump();
    std::string manyMerges;
    for (std::size_t i = 0; i <= BpeTokenizer::kMaxMerges; ++i)
        manyMerges += "\"a b\",";
    tooManyMerges.insert(tooManyMerges.find("\"merges\":[") + 10, manyMerges);
    Json missingMergeToken = testTokenizerData();
    missingMergeToken["model"]["merges"].push_back("q zz");
    Json missingByte = testTokenizerData();
    missingByte["model"]["vocab"].erase("a");
    Json normalizer = testTokenizerData();
    normalizer["normalizer"] = {{"type", "NFC"}};
    Json wordPiece = testTokenizerData();
    wordPiece["model"]["type"] = "WordPiece";
    Json addedOverVocab = testTokenizerData();
    addedOverVocab["added_tokens"].push_back({{"id", 97}, {"content", "<|x|>"}});
    Json addedOutOfRange = testTokenizerData();
    addedOutOfRange["added_tokens"].push_back({{"id", 1LL << 40}, {"content", "<|x|>"}});

    const std::vector<HostileCase> cases = {
        {"overflowing number", withVocabEntry("\"zz\":1e999"), Code::malformedFile},
        {"fractional id", withVocabEntry("\"zz\":1.5"), Code::malformedFile},
        {"negative id", withVocabEntry("\"zz\":-1"), Code::invalidContents},
        {"id beyond the limit", withVocabEntry("\"zz\":" + std::to_string(BpeTokenizer::kMaxTokenId)),
         Code::invalidContents},
        {"shared id", withVocabEntry("\"zz\":97"), Code::invalidContents},
        {"deep nesting", deep, Code::malformedFile},
        {"NUL byte", std::string("{\"model\":\0}", 11), Code::malformedFile},
        {"escaped NUL in a token", withVocabEntry("\"z\\u0000\":1999"), Code::malformedFile},
        {"not JSON", "{\"model\": ", Code::malformedFile},
        {"too many merges", tooManyMerges, Code::invalidContents},
        {"merge outside the vocabulary", missingMergeToken.dump(), Code::invalidContents},
        {"missing byte symbol", missingByte.dump(), Code::invalidContents},
        {"normalizer", normalizer.dump(), Code::unsupported},
        {"other model", wordPiece.dump(), Code::unsupported},
        {"added token over a vocabulary id", addedOverVocab.dump(), Code::invalidContents},
        {"added token id out of range", addedOutOfRange.dump(), Code::invalidContents},
        {"array", "[]", Code::malformedFile},
    };
    for (const auto& c : cases) {
        try {
            BpeTokenizer::build(testTokenizerConfig(), TokenizerFiles::parse(c.text, "tokenizer.json"));
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const TokenizerError& error) {
            EXPECT_EQ(error.code(), c.code) << c.what << ": " << error.what();
        }
    }
}

TEST(BpeTokenizerTest, ConfigurationMustNameAByteLevelTokenizer) {
    for (const Json& config : {Json{{"tokenizer_class", "LlamaTokenizer"}}, Json::object(), Json::array()}) {
        EXPECT_THROW(BpeTokenizer::build(config, testTokenizerData()), TokenizerError) << config.dump();
    }
    EXPECT_NO_THROW(BpeTokenizer::build({{"tokenizer_class", "WhisperTokenizerFast"}}, testTokenizerData()));
}

TEST(BpeTokenizerTest, FilesLargerThanATokenizerAreNotRead) {
    velnote::testing::TempDir dir;
    {
        std::FILE* file = std::fopen((dir / "tokenizer.json").c_str(), "w");
        ASSERT_NE(file, nullptr);
        // A sparse file: large, but costs no disk.
        ASSERT_EQ(std::fseek(file, static_cast<long>(TokenizerFiles::kMaxFileBytes), SEEK_SET), 0);
        std::fputc('}', file);
        std::fclose(file);
    }
    try {
        TokenizerFiles::readData(dir.path());
        ADD_FAILURE() << "read";
    } catch (const TokenizerError& error) {
        EXPECT_EQ(error.code(), Code::unreadableFile);
    }
    std::filesystem::create_directory(dir / "tokenizer_config.json");
    EXPECT_THROW(TokenizerFiles::readConfig(dir.path()), TokenizerError);
    std::filesystem::remove_all(dir / "tokenizer.json");
    std::filesystem::remove_all(dir / "tokenizer_config.json");
    EXPECT_EQ(TokenizerFiles::readConfig(dir.path()), std::nullopt);
}

} // namespace
} // namespace vocalith
