#pragma once

#include "platform/ocr/TextRecognizer.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace velnote::platform {

// Text recognition with Tesseract's line recogniser over the installed language data. Engines are
// expensive to load (hundreds of milliseconds for Japanese), so idle ones are kept for the next
// call with the same languages and words; calls run concurrently on separate engines.
class TesseractRecognizer final : public TextRecognizer {
  public:
    explicit TesseractRecognizer(std::filesystem::path tessdata = tessdataDirectory());
    ~TesseractRecognizer() override;

    // One per process, over tessdataDirectory().
    static TesseractRecognizer& shared();

    std::vector<TextObservation> recognize(const GrayImage& image, const TextRecognitionRequest& request,
                                           const std::stop_token& stop, std::string& error) override;

    // $TESSDATA_PREFIX when set and not empty (the folder holding the data files, as Tesseract 5
    // reads it), else /usr/share/tesseract-ocr/5/tessdata.
    static std::filesystem::path tessdataDirectory();
    // The languages whose "<name>.traineddata" lies directly in `tessdata`, in the recogniser's
    // fixed order (English first, Japanese after the Chinese and Korean data). Data of unknown
    // languages, the script-detection data "osd" and vertical-text variants are left out; a
    // missing folder gives an empty list.
    static std::vector<std::string> installedLanguages(const std::filesystem::path& tessdata);
    // The data name of a language identifier ("ja-JP" → "jpn"); empty for an unknown one.
    static std::string dataName(const std::string& identifier);

  private:
    struct Engine;
    std::unique_ptr<Engine> takeEngine(const std::string& key, const std::string& languages,
                                       const std::vector<std::string>& words, std::string& error);
    void returnEngine(std::unique_ptr<Engine> engine);

    std::filesystem::path tessdata_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Engine>> idle_; // under mutex_; all of one key
};

} // namespace velnote::platform
