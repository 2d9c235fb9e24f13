#pragma once

#include "engine/speech/tokenizer/BpeTokenizer.h"
#include "engine/speech/tokenizer/WhisperTokenizer.h"

#include <filesystem>
#include <memory>
#include <optional>

namespace vocalith {

// The engine's tokenizer: a BPE tokenizer with the special tokens and language tokens found in
// its vocabulary, and the word splitting of word timings. Immutable after construction.
class WhisperTokenizerWrapper : public WhisperTokenizer {
  public:
    WhisperTokenizerWrapper(std::shared_ptr<const BpeTokenizer> tokenizer,
                            std::optional<std::filesystem::path> tokenizerFolder);

    std::vector<std::int64_t> encode(std::string_view text) const override;
    std::string decode(const std::vector<std::int64_t>& tokens) const override;
    std::optional<std::int64_t> convertTokenToId(std::string_view token) const override;
    std::optional<std::string> convertIdToToken(std::int64_t id) const override;
    const SpecialTokens& specialTokens() const override { return specialTokens_; }
    const std::set<std::int64_t>& allLanguageTokens() const override { return allLanguageTokens_; }
    // Scripts written without spaces (Chinese, Japanese, Thai, Lao, Burmese, Cantonese) split
    // wherever the text of the tokens so far is whole; other texts split at spaces and
    // punctuation. The language is told from the text tokens.
    WordTokens splitToWordTokens(const std::vector<std::int64_t>& tokenIds) const override;

    // The folder the files were read from.
    const std::optional<std::filesystem::path>& tokenizerFolder() const { return tokenizerFolder_; }

  protected:
    virtual WordTokens splitTokensOnUnicode(const std::vector<std::int64_t>& tokens) const;
    virtual WordTokens splitTokensOnSpaces(const std::vector<std::int64_t>& tokens) const;

  private:
    SpecialTokens findSpecialTokens() const;

    std::shared_ptr<const BpeTokenizer> tokenizer_;
    std::optional<std::filesystem::path> tokenizerFolder_;
    SpecialTokens specialTokens_;
    std::set<std::int64_t> allLanguageTokens_;
};

} // namespace vocalith
