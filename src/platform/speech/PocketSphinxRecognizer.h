#pragma once

#include "platform/speech/SpeechRecognizer.h"

#include <filesystem>
#include <string>
#include <vector>

namespace velnote::platform {

// One installed pocketsphinx model: the acoustic model folder, the language model and the
// pronunciation dictionary of one locale.
struct PocketSphinxModel {
    std::string localeIdentifier; // "en-US"
    std::filesystem::path acousticModel;
    std::filesystem::path languageModel;
    std::filesystem::path dictionary;
};

// The on-device recogniser on pocketsphinx (Debian's 5prealpha API). Each analysis loads its own
// decoder on its own thread (about half a second for the US English model) and decodes 16 kHz mono
// audio as it comes: while someone speaks the growing hypothesis is the interim text; when the
// decoder's voice activity detection sees the speech end, the utterance's hypothesis is the final
// text and a new utterance begins.
class PocketSphinxRecognizer final : public SpeechRecognizer {
  public:
    static constexpr AudioFormat kAnalyzerFormat{16000, 1};

    explicit PocketSphinxRecognizer(std::vector<PocketSphinxModel> models);

    // The models Debian's packages install under `root` (/usr/share/pocketsphinx/model):
    // pocketsphinx-en-us gives "en-US". Debian packages no other language, Japanese included.
    static std::vector<PocketSphinxModel>
    installedModels(const std::filesystem::path& root = "/usr/share/pocketsphinx/model");

    // A model of the same language and region; a locale without a region takes the first model of
    // its language.
    std::optional<AudioFormat> bestAvailableAudioFormat(const std::string& localeIdentifier) override;
    std::unique_ptr<SpeechAnalysis> start(const std::string& localeIdentifier,
                                          SpeechAnalysisCallbacks callbacks) override;

  private:
    const PocketSphinxModel* modelFor(const std::string& localeIdentifier) const;

    std::vector<PocketSphinxModel> models_;
};

// "en_US", "en-us" and "en-US" all give "en-US" (BCP 47 form); "" gives "".
std::string canonicalLocaleIdentifier(const std::string& identifier);

// The name of the locale's language as that locale writes it ("ja-JP" gives "日本語", "fr-FR"
// "français"); the identifier itself when ICU knows no name for it.
std::string languageDisplayName(const std::string& localeIdentifier);

} // namespace velnote::platform
