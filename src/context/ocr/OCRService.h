#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// Text recognition of screenshots. Stateless: every operation is static and
// any thread may call it. So far it knows the installed recognition languages;
// which of them a session uses is OCRLanguageChoice's rule.
//
// Languages are identifiers such as "en-US", "ja-JP" or "zh-Hans". The
// recogniser supports the languages whose Tesseract data is installed.
class OCRService {
  public:
    OCRService() = delete;

    // OCRLanguageChoice::preferredVisionRecognitionLanguage over
    // supportedVisionRecognitionLanguages().
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

    // OCRLanguageChoice::currentVisionOCRRecognitionLanguages over the
    // standard settings and supportedVisionRecognitionLanguages().
    static std::vector<std::string> currentVisionOCRRecognitionLanguages();
};

} // namespace velnote
