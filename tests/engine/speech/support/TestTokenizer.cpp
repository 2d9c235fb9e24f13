#include "support/TestTokenizer.h"

#include "engine/speech/tokenizer/BpeTokenizer.h"
#include "engine/speech/tokenizer/WhisperTokenizerWrapper.h"
#include "platform/fs/Files.h"

#include <cstdio>
#include <map>

namespace vocalith::testing {

namespace {

std::string symbolOfByte(unsigned char b) {
    const bool printable = (b >= '!' && b <= '~') || (b >= 0xA1 && b <= 0xAC) || (b >= 0xAE);
    int code = b;
    if (!printable) {
        int extra = 0;
        for (int c = 0; c < b; ++c) {
            const bool p = (c >= '!' && c <= '~') || (c >= 0xA1 && c <= 0xAC) || (c >= 0xAE);
            extra += p ? 0 : 1;
        }
        code = 256 + extra;
    }
    std::string out;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
}

// Words whose merges the vocabulary holds; each is merged left to right.
const std::vector<std::string>& mergedWords() {
    static const std::vector<std::string> words = {" the",       " hello",  "Hello", " world",
                                                   " meeting",   " starts", " now",  " notes",
                                                   "こんにちは", "会議",    "世界",  "ます"};
    return words;
}

// Plain BPE: merge the best-ranked adjacent pair, leftmost first, until none is left.
std::vector<std::string> encodeWithRanks(const std::string& word,
                                         const std::map<std::pair<std::string, std::string>, int>& ranks) {
    std::vector<std::string> symbols;
    for (const unsigned char b : word)
        symbols.push_back(symbolOfByte(b));
    for (;;) {
        std::size_t best = symbols.size();
        int bestRank = 0;
        for (std::size_t i = 0; i + 1 < symbols.size(); ++i) {
            const auto found = ranks.find({symbols[i], symbols[i + 1]});
            if (found != ranks.end() && (best == symbols.size() || found->second < bestRank)) {
                best = i;
                bestRank = found->second;
            }
        }
        if (best == symbols.size())
            return symbols;
        symbols[best] += symbols[best + 1];
        symbols.erase(symbols.begin() + static_cast<std::ptrdiff_t>(best) + 1);
    }
}

} // namespace

std::string byteSymbols(const std::string& text) {
    std::string out;
    for (const unsigned char b : text)
        out += symbolOfByte(b);
    return out;
}

Json testTokenizerData() {
    Json vocab = Json::object();
    for (int b = 0; b < 256; ++b)
        vocab[symbolOfByte(static_cast<unsigned char>(b))] = b;
    // Merges as training would make them: while a word still encodes to several tokens, its first
    // two become one. Each listed word then encodes to exactly one token.
    Json merges = Json::array();
    std::map<std::pair<std::string, std::string>, int> ranks;
    std::int64_t next = 256;
    for (const auto& word : mergedWords()) {
        for (;;) {
            std::vector<std::string> symbols = encodeWithRanks(word, ranks);
            if (symbols.size() < 2)
                break;
            ranks.emplace(std::pair{symbols[0], symbols[1]}, static_cast<int>(ranks.size()));
            merges.push_back(Json::array({symbols[0], symbols[1]}));
            vocab[symbols[0] + symbols[1]] = next++;
        }
    }
    Json added = Json::array();
    const auto add = [&](std::int64_t id, const std::string& content) {
        added.push_back({{"id", id},
                         {"content", content},
                         {"single_word", false},
                         {"lstrip", false},
                         {"rstrip", false},
                         {"normalized", false},
                         {"special", true}});
    };
    add(TestVocabulary::endOfText, "<|endoftext|>");
    add(TestVocabulary::startOfTranscript, "<|startoftranscript|>");
    const char* languages[] = {"en", "zh", "de", "es", "ja", "fr"};
    for (int i = 0; i < 6; ++i)
        add(TestVocabulary::english + i, std::string("<|") + languages[i] + "|>");
    add(TestVocabulary::translate, "<|translate|>");
    add(TestVocabulary::transcribe, "<|transcribe|>");
    add(TestVocabulary::startOfLm, "<|startoflm|>");
    add(TestVocabulary::startOfPrevious, "<|startofprev|>");
    add(TestVocabulary::noSpeech, "<|nospeech|>");
    add(TestVocabulary::noTimestamps, "<|notimestamps|>");
    for (int i = 0; i <= 1500; ++i) {
        char text[16];
        std::snprintf(text, sizeof text, "<|%.2f|>", i * 0.02);
        add(TestVocabulary::timeBegin + i, text);
    }
    return {
        {"version", "1.0"},
        {"truncation", nullptr},
        {"padding", nullptr},
        {"added_tokens", added},
        {"normalizer", nullptr},
        {"pre_tokenizer",
         {{"type", "ByteLevel"}, {"add_prefix_space", false}, {"trim_offsets", true}, {"use_regex", true}}},
        {"post_processor", nullptr},
        {"decoder",
         {{"type", "ByteLevel"}, {"add_prefix_space", true}, {"trim_offsets", true}, {"use_regex", true}}},
        {"model",
         {{"type", "BPE"},
          {"dropout", nullptr},
          {"unk_token", nullptr},
          {"continuing_subword_prefix", ""},
          {"end_of_word_suffix", ""},
          {"fuse_unk", false},
          {"byte_fallback", false},
          {"vocab", vocab},
          {"merges", merges}}}};
}

Json testTokenizerConfig() {
    return {{"tokenizer_class", "WhisperTokenizer"},
            {"bos_token", "<|endoftext|>"},
            {"eos_token", "<|endoftext|>"},
            {"unk_token", "<|endoftext|>"},
            {"add_prefix_space", false},
            {"errors", "replace"},
            {"model_max_length", 1024}};
}

void writeTestTokenizer(const std::filesystem::path& folder, const Json& data, const Json& config) {
    std::filesystem::create_directories(folder);
    velnote::platform::writeFileAtomically(folder / "tokenizer.json", data.dump());
    velnote::platform::writeFileAtomically(folder / "tokenizer_config.json", config.dump());
}

std::shared_ptr<WhisperTokenizer> makeTestTokenizer() {
    static const auto bpe =
        std::make_shared<const BpeTokenizer>(BpeTokenizer::build(testTokenizerConfig(), testTokenizerData()));
    return std::make_shared<WhisperTokenizerWrapper>(bpe, std::nullopt);
}

} // namespace vocalith::testing
