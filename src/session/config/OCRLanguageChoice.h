#pragma once

#include "platform/settings/SettingsStore.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// Which text-recognition languages a new session freezes, from the "inputLanguage" setting and the
// languages the recogniser has installed (the caller passes them in; reading the installed data is
// the recogniser's business). Stateless; any thread.
//
// Languages are identifiers such as "en-US", "ja-JP" or "zh-Hans".
class OCRLanguageChoice {
  public:
    OCRLanguageChoice() = delete;

    // The "inputLanguage" setting as a lower-case code with "-" for "_"
    // ("en_US" → "en-us"); std::nullopt for no value, a blank one, and the
    // automatic-detection values "auto", "automatic", "自動" and "自動判定".
    static std::optional<std::string> normalizedInputLanguage(std::optional<std::string_view> value);

    // The entry of `supportedLanguages` (as the list writes it) that suits the
    // language setting `input`: an exact match ignoring case, else the first
    // entry of the same base language ("ja" finds "ja-JP"), else an entry that
    // is the base language alone. std::nullopt when nothing matches or the
    // setting asks for automatic detection.
    static std::optional<std::string>
    preferredVisionRecognitionLanguage(std::optional<std::string_view> input,
                                       const std::vector<std::string>& supportedLanguages);

    // The recognition languages to freeze into a new session: the supported
    // list with the language preferred for the "inputLanguage" setting moved
    // to the front ("ja-JP" when the setting prefers none); when that language
    // is not in the list, "ja-JP" is moved to the front if listed; otherwise
    // the list as it is.
    static std::vector<std::string>
    currentVisionOCRRecognitionLanguages(const platform::SettingsStore& settings,
                                         std::vector<std::string> supportedLanguages);
};

} // namespace velnote
