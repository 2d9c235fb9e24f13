#pragma once

#include "engine/speech/JsonCoding.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vocalith {

// A byte-level BPE tokenizer built from the hub's "tokenizer.json" and its
// "tokenizer_config.json": the model family's tokenizer, read by our own code. Strict: anything
// the files ask for that this reader does not implement is refused, never approximated.
//
// Encoding splits the text at the added (special) tokens, cuts the rest into words with the
// byte-level pre-tokenizer's pattern (contractions, letters, numbers, other symbols, spaces),
// maps each word's UTF-8 bytes onto the 256 byte symbols and merges them by rank. Decoding maps
// the symbols back to bytes; bytes that do not form whole UTF-8 characters come out as U+FFFD.
//
// Immutable after construction; every operation may run on several threads at once.
class BpeTokenizer {
  public:
    // Ids run from 0 to kMaxTokenId - 1, and there are at most kMaxMerges merges: five times what
    // the model family uses (51866 tokens, 50000 merges), so a hostile file costs little memory.
    static constexpr std::int64_t kMaxTokenId = 1 << 18;
    static constexpr std::size_t kMaxMerges = 1 << 18;

    // `config`: the parsed "tokenizer_config.json" (its "tokenizer_class" must name a byte-level
    // BPE tokenizer); `data`: the parsed "tokenizer.json". Throws TokenizerError.
    static BpeTokenizer build(const Json& config, const Json& data);

    // Token ids of `text`, added tokens included where their text appears; no tokens are added
    // around it.
    std::vector<std::int64_t> encode(std::string_view text) const;
    // The text of `ids`, added tokens written as their text; ids the vocabulary lacks are skipped.
    std::string decode(const std::vector<std::int64_t>& ids) const;
    std::optional<std::int64_t> tokenToId(std::string_view token) const;
    // The token as the vocabulary spells it (byte symbols, "Ġhello"), or an added token's text.
    std::optional<std::string> idToToken(std::int64_t id) const;

  private:
    struct AddedToken {
        std::int32_t id = 0;
        std::string content;
        bool lstrip = false; // swallows white space before it
        bool rstrip = false; // swallows white space after it
    };
    struct Merge {
        std::int32_t rank = 0;
        std::int32_t merged = 0;
    };
    enum class Kind : std::uint8_t { none, vocabulary, added };

    BpeTokenizer() = default;
    void readModel(const Json& model);
    void readAddedTokens(const Json& added);
    void readPreTokenizer(const Json& data);
    void checkByteSymbols();
    void addToken(std::int32_t id, const std::string& text, Kind kind);

    void encodeOrdinaryText(std::string_view text, std::vector<std::int64_t>& ids) const;
    void encodeWord(std::string_view word, std::vector<std::int64_t>& ids) const;
    const AddedToken* addedTokenAt(std::string_view text, std::size_t offset) const;

    std::unordered_map<std::string, std::int32_t> vocabulary_;     // both kinds, by text
    std::vector<std::string> tokens_;                              // by id
    std::vector<Kind> kinds_;                                      // by id
    std::unordered_map<std::uint64_t, Merge> merges_;              // (left id << 32 | right id) -> merge
    std::vector<AddedToken> addedTokens_;                          // longest first
    std::array<std::vector<std::size_t>, 256> addedByFirstByte_{}; // indexes into addedTokens_
    std::array<std::int32_t, 256> byteIds_{};                      // id of each byte's symbol
    bool addPrefixSpace_ = false;
    bool useRegex_ = true;
    bool ignoreMerges_ = false;
};

} // namespace vocalith
