#pragma once

#include "context/ocr/OCRTypes.h"
#include "platform/image/RgbImage.h"
#include "platform/ocr/TextRecognizer.h"
#include "session/settings/UserDictionaryStore.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace velnote {

// What the screenshot monitor and the activity tracking ask of text recognition. Every operation
// blocks its caller while the recogniser runs (seconds for a full screen) and gives an empty
// result on failure (logged) or when `stop` is requested meanwhile; none throws. Any thread.
class VisionOCRServiceProtocol {
  public:
    virtual ~VisionOCRServiceProtocol() = default;

    // The important lines of a screenshot, highest score first, up to about `maxChars`
    // characters (OCRService::selectImportantLines). The thumbnails, when both are given, are
    // small pictures of this and the previous screenshot; lines that changed between them weigh
    // more. `sessionOCRLanguages`: the session's languages, preferred first.
    virtual std::vector<OCRResult> extractImportantTextWithVision(
        const platform::RgbImage& image, const platform::RgbImage* currentThumbnail,
        const platform::RgbImage* previousThumbnail, std::int64_t maxChars,
        const std::vector<std::string>& sessionOCRLanguages, const std::stop_token& stop = {}) = 0;

    // All the text of an image in reading order, joined by spaces and trimmed.
    virtual std::string recognizeTextOnEntireImage(const platform::RgbImage& image,
                                                   const std::vector<std::string>& sessionOCRLanguages,
                                                   const std::stop_token& stop = {}) = 0;

    // The weighted text regions of a screenshot (OCRService::selectStructuredRegions), with the
    // number of salient regions used (at most `saliencyTopK`). Languages as the active session or
    // the "inputLanguage" setting give them.
    virtual std::pair<std::vector<StructuredTextRegion>, std::int64_t>
    extractStructuredTextRegions(const platform::RgbImage& image, const platform::RgbImage* currentThumbnail,
                                 const platform::RgbImage* previousThumbnail, std::int64_t maxRegions,
                                 std::int64_t saliencyTopK, const std::stop_token& stop = {}) = 0;
};

// Where the default service gets what it does not own.
struct VisionOCRDependencies {
    platform::TextRecognizer* recognizer = nullptr; // null: TesseractRecognizer::shared()
    // The installed recognition languages; empty function: OCRService::supportedVisionRecognitionLanguages().
    std::function<std::vector<std::string>()> supportedLanguages;
    // The input language in force (the active session's transcription language, else the
    // "inputLanguage" setting); empty function: DefaultVisionOCRService::effectiveOCRInputLanguage.
    std::function<std::optional<std::string>()> effectiveInputLanguage;
    // The user dictionary's words; empty function: UserDictionaryStore's entries, each wrong and
    // correct text that is not empty.
    std::function<std::vector<std::string>()> customWords;
};

// The on-device text recognition of screenshots over Tesseract: cleans the image up
// (OCRService::preprocessForOCR), recognises it with the languages OCRService orders and the user
// dictionary as custom words, and selects lines or regions by OCRService's rules. Holds no state
// of its own beyond its dependencies.
class DefaultVisionOCRService final : public VisionOCRServiceProtocol {
  public:
    explicit DefaultVisionOCRService(VisionOCRDependencies dependencies = {});

    // Over the real recogniser and the application's state; for the whole process.
    static DefaultVisionOCRService& shared();

    // The active session's transcription language when a session runs and sets one, else the
    // "inputLanguage" setting, else none. Reads AppState on the main thread: never call it from a
    // job the main thread waits for.
    static std::optional<std::string> effectiveOCRInputLanguage();

    // The recogniser's custom words of a user dictionary: each entry's wrong and then its correct
    // text, in order, empty texts left out.
    static std::vector<std::string> customWordsOf(const std::vector<UserDictionaryEntry>& entries);

    // The recogniser's lines of the preprocessed image, each box cut to the image. Empty when
    // `stop` is requested before or during the work.
    std::vector<platform::TextObservation>
    recognizeAllTextObservations(const platform::RgbImage& image,
                                 const std::vector<std::string>& sessionOCRLanguages,
                                 const std::stop_token& stop = {});

    std::vector<OCRResult> extractImportantTextWithVision(const platform::RgbImage& image,
                                                          const platform::RgbImage* currentThumbnail,
                                                          const platform::RgbImage* previousThumbnail,
                                                          std::int64_t maxChars,
                                                          const std::vector<std::string>& sessionOCRLanguages,
                                                          const std::stop_token& stop = {}) override;
    std::string recognizeTextOnEntireImage(const platform::RgbImage& image,
                                           const std::vector<std::string>& sessionOCRLanguages,
                                           const std::stop_token& stop = {}) override;
    std::pair<std::vector<StructuredTextRegion>, std::int64_t>
    extractStructuredTextRegions(const platform::RgbImage& image, const platform::RgbImage* currentThumbnail,
                                 const platform::RgbImage* previousThumbnail, std::int64_t maxRegions,
                                 std::int64_t saliencyTopK, const std::stop_token& stop = {}) override;

  private:
    VisionOCRDependencies deps_;
};

} // namespace velnote
