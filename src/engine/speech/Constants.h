#pragma once

#include "engine/foundation/ModelDownloadConfig.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vocalith {

class ModelSupportConfig;

// The engine's fixed values. The tables are built once, on first use, and are read-only afterwards,
// so any thread may read them without locking.
struct Constants {
    // Token context of the decoder; the default sampleLength of DecodingOptions.
    static constexpr int maxTokenContext = 224;
    // One model window: 30 s at 16 kHz, in samples.
    static constexpr int defaultWindowSamples = 480000;
    // Frames per read when loading an audio file: 30 s at 44.1 kHz.
    static constexpr std::uint32_t defaultAudioReadFrameSize = 1323000;
    static constexpr std::string_view defaultLanguageCode = "en";
    // Trimmed from a decoded language token ("<|en|>") to get its code.
    static constexpr std::string_view specialTokenCharacters = "<|>";
    // Punctuation joined to the following word when words are timed (9 characters, UTF-8).
    static constexpr std::string_view defaultPrependPunctuations = "\"'\u201c\u00a1\u00bf([{-";
    // Punctuation joined to the preceding word (17 characters, UTF-8).
    static constexpr std::string_view defaultAppendPunctuations =
        "\"'.\u3002,\uff0c!\uff01?\uff1f:\uff1a\u201d)]}\u3001";
    // The model-support configuration's file name in the model repository.
    static constexpr std::string_view defaultRemoteConfigName = "config.json";
    // The model hub the engine talks to when the configuration names none.
    static constexpr std::string_view defaultRemoteEndpoint = basalith::kDefaultHubEndpoint;

    // Language name (lower case, English) → code: 112 names, alternative names included.
    static const std::map<std::string, std::string>& languages();
    // The 100 distinct codes of `languages`.
    static const std::set<std::string>& languageCodes();

    // The built-in model-support table, used when the model repository offers none.
    static const ModelSupportConfig& fallbackModelSupportConfig();
    // Every folder some row of the built-in table supports, each once, in first-seen order.
    static const std::vector<std::string>& knownModels();
};

} // namespace vocalith
