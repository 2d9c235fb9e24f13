#pragma once

#include "platform/settings/SettingsStore.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// Text recognition of screenshots. Stateless: every operation is static and
// any thread may call it. So far it holds the choice of recognition languages,
// which the session configuration freezes when a recording starts.
//
// Languages are identifiers such as "en-US", "ja-JP" or "zh-Hans". The
// recogniser supports the languages whose Tesseract data is installed.
class OCRService {
  public:
    OCRService() = delete;

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
    // The same over supportedVisionRecognitionLanguages().
    static std::optional<std::string>
    preferredVisionRecognitionLanguage(std::optional<std::string_view> input);

    // The languages of the data installed in tessdataDirectory(), read once
    // per process; empty when there is none.
    static const std::vector<std::string>& supportedVisionRecognitionLanguages();
    // The languages whose "<name>.traineddata" lies directly in `tessdata`, in
    // the recogniser's fixed order (English first, Japanese after the Chinese
    // and Korean data). Data of unknown languages, the script-detection data
    // "osd" and vertical-text variants are left out; a missing folder gives an
    // empty list.
    static std::vector<std::string> recognitionLanguages(const std::filesystem::path& tessdata);
    // $TESSDATA_PREFIX when set and not empty (the folder holding the data
    // files, as Tesseract 5 reads it), else /usr/share/tesseract-ocr/5/tessdata.
    static std::filesystem::path tessdataDirectory();

    // The recognition languages to freeze into a new session: the supported
    // list with the language preferred for the "inputLanguage" setting moved
    // to the front ("ja-JP" when the setting prefers none); when that language
    // is not in the list, "ja-JP" is moved to the front if listed; otherwise
    // the list as it is.
    static std::vector<std::string> currentVisionOCRRecognitionLanguages();
    static std::vector<std::string>
    currentVisionOCRRecognitionLanguages(const platform::SettingsStore& settings,
                                         std::vector<std::string> supportedLanguages);
};

} // namespace velnote
