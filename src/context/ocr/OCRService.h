#pragma once

#include "context/ocr/OCRTypes.h"
#include "platform/image/GrayImage.h"
#include "platform/ocr/TextRecognizer.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// The rules of text recognition on screenshots, apart from the recogniser itself: which languages
// to ask for, how the image is cleaned up, how a recognised line is scored and which lines (or
// weighted regions) of a screenshot are kept. Stateless: every operation is static and any thread
// may call it. DefaultVisionOCRService runs them over the real recogniser.
//
// Languages are identifiers such as "en-US", "ja-JP" or "zh-Hans". The recogniser supports the
// languages whose Tesseract data is installed.
class OCRService {
  public:
    OCRService() = delete;

    // ---- Languages ----

    // OCRLanguageChoice::preferredVisionRecognitionLanguage over
    // supportedVisionRecognitionLanguages().
    static std::optional<std::string>
    preferredVisionRecognitionLanguage(std::optional<std::string_view> input);

    // The languages of the data installed in tessdataDirectory(), read once per process; empty
    // when there is none.
    static const std::vector<std::string>& supportedVisionRecognitionLanguages();
    // TesseractRecognizer::installedLanguages.
    static std::vector<std::string> recognitionLanguages(const std::filesystem::path& tessdata);
    // TesseractRecognizer::tessdataDirectory.
    static std::filesystem::path tessdataDirectory();

    // OCRLanguageChoice::currentVisionOCRRecognitionLanguages over the standard settings and
    // supportedVisionRecognitionLanguages().
    static std::vector<std::string> currentVisionOCRRecognitionLanguages();

    // The languages to ask the recogniser for: the session's languages mapped onto `supported`
    // (unmatched ones and repeats dropped, the session's order kept); when none is left, the whole
    // supported list with the language preferred for `effectiveInputLanguage()` (else "ja-JP")
    // moved to the front. `effectiveInputLanguage` is called only then. Empty when `supported` is.
    static std::vector<std::string> orderedSupportedRecognitionLanguages(
        const std::vector<std::string>& sessionOCRLanguages, const std::vector<std::string>& supported,
        const std::function<std::optional<std::string>()>& effectiveInputLanguage);

    // ---- Image and measures ----

    // The screenshot cleaned up for recognition, same size: in luminance, contrast raised by a
    // quarter around the middle grey and brightened a little, shadows lifted and highlights
    // pulled down, then sharpened twice (an unsharp mask and a luminance sharpen).
    static platform::GrayImage preprocessForOCR(const platform::RgbImage& image);

    // The luminance of `image`; none for an empty image.
    static std::optional<platform::GrayImage> extractPixels(const platform::RgbImage& image);

    // The root-mean-square luminance difference of `current` and `previous` under `rect` (pixels
    // of the full image of size fullWidth × fullHeight), measured on the thumbnails of size
    // thumbWidth × thumbHeight. 0 when the rectangle covers no whole thumbnail pixel or is not
    // finite.
    static double regionPixelDiff(const PixelRect& rect, const platform::GrayImage& current,
                                  const platform::GrayImage& previous, double thumbWidth, double thumbHeight,
                                  double fullWidth, double fullHeight);

    // Jaccard index of the two texts' sets of character pairs, lower-cased and without white
    // space; texts of fewer than 2 characters are 1 when equal, else 0.
    static double characterBigramJaccard(std::string_view a, std::string_view b);

    // Intersection over union, 0 when they do not overlap.
    static double rectIoU(const PixelRect& a, const PixelRect& b);

    // ---- Lines ----

    // A line's score, 0 meaning rejected: lines in the top 5 % of the screen, lines that begin
    // with "http://", "https://" or "www." (any case), and lines of more than 40 % symbols are
    // rejected; otherwise the score grows with the confidence and the length (up to 60
    // characters) and gains up to 30 % for kana and ideographs.
    static double scoreTextObservation(std::string_view text, float confidence, const PixelRect& rect,
                                       double imageHeight);

    // The important lines of a screenshot of width × height pixels from the recogniser's
    // observations, highest score first: lines of at least 4 characters with a score above 0,
    // boosted where the thumbnails show a change, without duplicates (overlapping boxes, one text
    // inside another, near-equal texts), until `maxChars` characters are reached (a line is never
    // cut; 0 or less: no cap). Thumbnails may be absent.
    static std::vector<OCRResult>
    selectImportantLines(const std::vector<platform::TextObservation>& observations, double width,
                         double height, const platform::GrayImage* currentThumbnail,
                         const platform::GrayImage* previousThumbnail, std::int64_t maxChars);

    // The best readings of all observations, in order, joined by one space and trimmed.
    static std::string joinedText(const std::vector<platform::TextObservation>& observations);

    // ---- Weighted regions ----

    // The salient regions of `image`, most confident first, at most `topK`.
    static std::vector<SalientRegion> extractSalientRegions(const platform::RgbImage& image,
                                                            std::int64_t topK);

    // The weighted regions of a screenshot of width × height pixels: confident lines with
    // meaningful letters, weighted by saliency, confidence, size, closeness to the centre and
    // change, duplicates dropped, at most `maxRegions` (tested after each region); when that
    // keeps at most one, the confident lines over the centre of the screen are added by their
    // line score. Each labelled by position and size.
    static std::vector<StructuredTextRegion>
    selectStructuredRegions(const std::vector<platform::TextObservation>& observations,
                            const std::vector<SalientRegion>& salient, double width, double height,
                            const platform::GrayImage* currentThumbnail,
                            const platform::GrayImage* previousThumbnail, std::int64_t maxRegions);
};

} // namespace velnote
