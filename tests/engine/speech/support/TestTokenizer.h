#pragma once

#include "engine/speech/JsonCoding.h"
#include "engine/speech/tokenizer/WhisperTokenizer.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// A small tokenizer laid out like the model family's: the 256 byte symbols (id = byte), merges
// that make a few English and Japanese words, then the special tokens from id 1000 on, with six
// languages and the 1501 timestamps up to "<|30.00|>".
namespace vocalith::testing {

struct TestVocabulary {
    static constexpr std::int64_t endOfText = 1000;
    static constexpr std::int64_t startOfTranscript = 1001;
    static constexpr std::int64_t english = 1002; // then zh, de, es, ja, fr
    static constexpr std::int64_t japanese = 1006;
    static constexpr std::int64_t translate = 1008;
    static constexpr std::int64_t transcribe = 1009;
    static constexpr std::int64_t startOfLm = 1010;
    static constexpr std::int64_t startOfPrevious = 1011;
    static constexpr std::int64_t noSpeech = 1012;
    static constexpr std::int64_t noTimestamps = 1013;
    static constexpr std::int64_t timeBegin = 1014; // "<|0.00|>"; "<|30.00|>" is timeBegin + 1500
    static constexpr std::int64_t size = timeBegin + 1501;

    static std::int64_t timestamp(double seconds) {
        return timeBegin + static_cast<std::int64_t>(seconds * 50 + 0.5);
    }
};

// The byte-symbol spelling of UTF-8 text ("Ġhello" for " hello").
std::string byteSymbols(const std::string& text);

// "tokenizer.json" of the test vocabulary.
Json testTokenizerData();
// "tokenizer_config.json" as the hub has it for the model family.
Json testTokenizerConfig();
// Writes both files into `folder` (created when missing).
void writeTestTokenizer(const std::filesystem::path& folder, const Json& data = testTokenizerData(),
                        const Json& config = testTokenizerConfig());
// The wrapper over the test vocabulary, built without files.
std::shared_ptr<WhisperTokenizer> makeTestTokenizer();

} // namespace vocalith::testing
