#pragma once

// The recorded English speech that scripts/fetch-models unpacks into the dependency cache, with
// the texts spoken, and the word error rate the model tests and the transcription benchmark judge
// by. Header-only, so the benchmark can share it.

#include "engine/speech/tokenizer/TokenizerUtilities.h"
#include "platform/fs/Files.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace vocalith::testing {

struct Recording {
    std::filesystem::path path;
    std::string transcript;
};

// $VELNOTE_DEPS_CACHE, else ~/.cache/velnote-deps.
inline std::filesystem::path dependencyCache() {
    if (const char* cache = std::getenv("VELNOTE_DEPS_CACHE"); cache != nullptr && *cache != '\0')
        return cache;
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : "/") / ".cache/velnote-deps";
}

inline bool speechIsFetched() {
    return std::filesystem::exists(dependencyCache() / "speech/.complete");
}

// The telephone prompts (8 kHz) whose text is speech, sorted by name: "name: Text." lines of
// "core-sounds-en.txt"; prompts described in brackets ("[ascending tones]") are left out.
inline std::vector<Recording> promptRecordings() {
    const auto folder = dependencyCache() / "speech/prompts";
    std::map<std::string, std::string> texts;
    std::istringstream lines(velnote::platform::readFile(folder / "core-sounds-en.txt"));
    for (std::string line; std::getline(lines, line);) {
        const auto colon = line.find(": ");
        if (line.empty() || line[0] == ';' || colon == std::string::npos)
            continue;
        const std::string text = line.substr(colon + 2);
        if (text.find('[') == std::string::npos && !normalized(text).empty())
            texts[line.substr(0, colon)] = text;
    }
    std::vector<Recording> recordings;
    for (const auto& [name, text] : texts) {
        if (std::filesystem::exists(folder / (name + ".wav")))
            recordings.push_back({folder / (name + ".wav"), text});
    }
    return recordings;
}

// The read book passages of pocketsphinx's test data ("<s> text </s> (name)" lines).
inline std::vector<Recording> librivoxRecordings() {
    const auto folder = dependencyCache() / "speech/librivox";
    std::vector<Recording> recordings;
    std::istringstream lines(velnote::platform::readFile(folder / "transcription"));
    for (std::string line; std::getline(lines, line);) {
        const auto open = line.rfind('(');
        const auto close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open)
            continue;
        const auto file = folder / (line.substr(open + 1, close - open - 1) + ".wav");
        std::string text = line.substr(0, open);
        for (const char* tag : {"<s>", "</s>"}) {
            if (const auto at = text.find(tag); at != std::string::npos)
                text.erase(at, std::string(tag).size());
        }
        if (std::filesystem::exists(file))
            recordings.push_back({file, text});
    }
    return recordings;
}

// The words of `text` as they are compared: normalized, and the digits a model may write for a
// spoken number as words ("press 1" and "press one" are the same words).
inline std::vector<std::string> comparableWords(const std::string& text) {
    static const std::map<std::string, std::string> digits = {
        {"0", "zero"}, {"1", "one"}, {"2", "two"},   {"3", "three"}, {"4", "four"},
        {"5", "five"}, {"6", "six"}, {"7", "seven"}, {"8", "eight"}, {"9", "nine"}};
    std::vector<std::string> words;
    std::istringstream in(normalized(text));
    for (std::string word; in >> word;) {
        const auto digit = digits.find(word);
        words.push_back(digit == digits.end() ? word : digit->second);
    }
    return words;
}

struct WordErrors {
    std::size_t errors = 0; // substitutions, insertions and deletions
    std::size_t words = 0;  // reference words
    double rate() const {
        return words == 0 ? 0.0 : static_cast<double>(errors) / static_cast<double>(words);
    }
    WordErrors& operator+=(const WordErrors& other) {
        errors += other.errors;
        words += other.words;
        return *this;
    }
};

// The word-level edit distance of the hypothesis from the reference.
inline WordErrors wordErrors(const std::string& reference, const std::string& hypothesis) {
    const auto ref = comparableWords(reference);
    const auto hyp = comparableWords(hypothesis);
    std::vector<std::size_t> row(hyp.size() + 1);
    for (std::size_t j = 0; j <= hyp.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= ref.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= hyp.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (ref[i - 1] == hyp[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return {row[hyp.size()], ref.size()};
}

} // namespace vocalith::testing
