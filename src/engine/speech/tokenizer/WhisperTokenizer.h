#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vocalith {

// The ids of the model family's special tokens. Each is looked up by its text in the vocabulary;
// the listed id stands in when the vocabulary lacks it.
struct SpecialTokens {
    std::int64_t endToken = 50257;               // "<|endoftext|>"
    std::int64_t englishToken = 50259;           // "<|en|>"
    std::int64_t noSpeechToken = 50362;          // "<|nospeech|>"
    std::int64_t noTimestampsToken = 50363;      // "<|notimestamps|>"
    std::int64_t specialTokenBegin = 50257;      // "<|endoftext|>": every id from here on is special
    std::int64_t startOfPreviousToken = 50361;   // "<|startofprev|>"
    std::int64_t startOfTranscriptToken = 50258; // "<|startoftranscript|>"
    std::int64_t timeTokenBegin = 50364;         // "<|0.00|>": one timestamp per 0.02 s from here on
    std::int64_t transcribeToken = 50359;        // "<|transcribe|>"
    std::int64_t translateToken = 50358;         // "<|translate|>"
    std::int64_t whitespaceToken = 220;          // " "

    bool operator==(const SpecialTokens&) const = default;
};

// Words of a token sequence and the ids each is made of; both lists have the same length.
struct WordTokens {
    std::vector<std::string> words;
    std::vector<std::vector<std::int64_t>> wordTokens;
};

// Text to token ids and back, the special tokens, and word splitting for word timings. Every
// implementation must allow calls from several threads at once: one tokenizer serves all the
// windows an engine decodes.
class WhisperTokenizer {
  public:
    virtual ~WhisperTokenizer() = default;

    virtual std::vector<std::int64_t> encode(std::string_view text) const = 0;
    // Bytes that do not form whole characters come out as U+FFFD.
    virtual std::string decode(const std::vector<std::int64_t>& tokens) const = 0;
    virtual std::optional<std::int64_t> convertTokenToId(std::string_view token) const = 0;
    virtual std::optional<std::string> convertIdToToken(std::int64_t id) const = 0;
    virtual const SpecialTokens& specialTokens() const = 0;
    // The ids of the language tokens ("<|en|>", "<|ja|>", ...) the vocabulary has.
    virtual const std::set<std::int64_t>& allLanguageTokens() const = 0;
    virtual WordTokens splitToWordTokens(const std::vector<std::int64_t>& tokenIds) const = 0;
};

} // namespace vocalith
