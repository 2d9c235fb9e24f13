#include "engine/speech/tokenizer/WhisperTokenizerWrapper.h"

#include "engine/speech/Constants.h"
#include "platform/language/LanguageRecognizer.h"
#include "platform/text/Whitespace.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace vocalith {

namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD"; // U+FFFD

bool startsWithSpecial(const std::vector<std::int64_t>& ids, std::int64_t specialTokenBegin) {
    return !ids.empty() && ids.front() >= specialTokenBegin;
}

// One Unicode scalar of the punctuation categories, once spaces and tabs are trimmed.
bool isPunctuation(const std::string& text) {
    const std::string trimmed = velnote::platform::trimSpacesAndTabs(text);
    const auto length = static_cast<int32_t>(trimmed.size());
    int32_t offset = 0;
    UChar32 c = 0;
    U8_NEXT(trimmed.data(), offset, length, c);
    return c >= 0 && offset == length && u_ispunct(c);
}

} // namespace

WhisperTokenizerWrapper::WhisperTokenizerWrapper(std::shared_ptr<const BpeTokenizer> tokenizer,
                                                 std::optional<std::filesystem::path> tokenizerFolder)
    : tokenizer_(std::move(tokenizer)), tokenizerFolder_(std::move(tokenizerFolder)),
      specialTokens_(findSpecialTokens()) {
    for (const auto& code : Constants::languageCodes()) {
        const auto id = tokenizer_->tokenToId("<|" + code + "|>");
        if (id && *id > specialTokens_.specialTokenBegin)
            allLanguageTokens_.insert(*id);
    }
}

SpecialTokens WhisperTokenizerWrapper::findSpecialTokens() const {
    const auto id = [this](const char* text, std::int64_t fallback) {
        return tokenizer_->tokenToId(text).value_or(fallback);
    };
    const auto noTimestamps = tokenizer_->tokenToId("<|notimestamps|>");
    SpecialTokens tokens;
    tokens.endToken = id("<|endoftext|>", 50257);
    tokens.englishToken = id("<|en|>", 50259);
    // Older vocabularies name the no-speech token "<|nocaptions|>".
    tokens.noSpeechToken = id("<|nospeech|>", id("<|nocaptions|>", 50362));
    tokens.noTimestampsToken = noTimestamps.value_or(50363);
    tokens.specialTokenBegin = id("<|endoftext|>", 50257);
    tokens.startOfPreviousToken = id("<|startofprev|>", 50361);
    tokens.startOfTranscriptToken = id("<|startoftranscript|>", 50258);
    // Older vocabularies list no timestamp tokens although the model predicts them: they follow
    // "<|notimestamps|>" directly, whose id differs between English-only and multilingual models.
    tokens.timeTokenBegin = id("<|0.00|>", noTimestamps ? *noTimestamps + 1 : 50364);
    tokens.transcribeToken = id("<|transcribe|>", 50359);
    tokens.translateToken = id("<|translate|>", 50358);
    // A byte-level vocabulary spells the space "Ġ", so " " itself is rarely listed.
    const auto space = tokenizer_->encode(" ");
    tokens.whitespaceToken = id(" ", space.size() == 1 ? space.front() : 220);
    return tokens;
}

std::vector<std::int64_t> WhisperTokenizerWrapper::encode(std::string_view text) const {
    return tokenizer_->encode(text);
}

std::string WhisperTokenizerWrapper::decode(const std::vector<std::int64_t>& tokens) const {
    return tokenizer_->decode(tokens);
}

std::optional<std::int64_t> WhisperTokenizerWrapper::convertTokenToId(std::string_view token) const {
    return tokenizer_->tokenToId(token);
}

std::optional<std::string> WhisperTokenizerWrapper::convertIdToToken(std::int64_t id) const {
    return tokenizer_->idToToken(id);
}

WordTokens WhisperTokenizerWrapper::splitToWordTokens(const std::vector<std::int64_t>& tokenIds) const {
    std::vector<std::int64_t> textTokens;
    for (const auto id : tokenIds) {
        if (id < specialTokens_.specialTokenBegin)
            textTokens.push_back(id);
    }
    static const std::set<std::string> unspacedLanguages = {"zh", "ja", "th", "lo", "my", "yue"};
    const auto language = velnote::platform::dominantLanguage(decode(textTokens));
    if (language && unspacedLanguages.contains(*language))
        return splitTokensOnUnicode(tokenIds);
    return splitTokensOnSpaces(tokenIds);
}

WordTokens WhisperTokenizerWrapper::splitTokensOnUnicode(const std::vector<std::int64_t>& tokens) const {
    WordTokens result;
    if (tokens.empty())
        return result;
    const std::string full = decode(tokens);
    std::size_t closedBytes = 0; // the words so far make up this much of `full`
    std::vector<std::int64_t> current;
    for (const auto id : tokens) {
        current.push_back(id);
        const std::string text = decode(current);
        const auto replacement = text.find(kReplacementCharacter);
        // A U+FFFD that the whole text has at the same place is a real one, not a character cut
        // in half. A place past the end of the whole text counts as cut in half.
        const std::size_t place = closedBytes + replacement;
        const bool whole = replacement == std::string::npos ||
                           (place <= full.size() &&
                            full.substr(place, kReplacementCharacter.size()) == kReplacementCharacter);
        if (whole) {
            closedBytes += text.size();
            result.words.push_back(text);
            result.wordTokens.push_back(std::move(current));
            current.clear();
        }
    }
    return result;
}

WordTokens WhisperTokenizerWrapper::splitTokensOnSpaces(const std::vector<std::int64_t>& tokens) const {
    const WordTokens pieces = splitTokensOnUnicode(tokens);
    WordTokens result;
    for (std::size_t i = 0; i < pieces.words.size(); ++i) {
        const std::string& text = pieces.words[i];
        const auto& ids = pieces.wordTokens[i];
        const bool special = startsWithSpecial(ids, specialTokens_.specialTokenBegin);
        const bool startsWithSpace = !text.empty() && text.front() == ' ';
        if (special || startsWithSpace || isPunctuation(text) || result.words.empty()) {
            result.words.push_back(text);
            result.wordTokens.push_back(ids);
        } else {
            result.words.back() += text;
            result.wordTokens.back().insert(result.wordTokens.back().end(), ids.begin(), ids.end());
        }
    }
    return result;
}

} // namespace vocalith
