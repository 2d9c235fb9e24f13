#include "context/ocr/VisionOCRService.h"

#include "app/state/AppState.h"
#include "context/ocr/OCRService.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/ocr/TesseractRecognizer.h"
#include "platform/settings/SettingsStore.h"
#include "session/VelnoteLogger.h"
#include "session/settings/UserDictionaryStore.h"

#include <future>

namespace velnote {
namespace {

std::optional<platform::GrayImage> pixelsOf(const platform::RgbImage* image) {
    return image != nullptr ? OCRService::extractPixels(*image) : std::nullopt;
}

} // namespace

DefaultVisionOCRService::DefaultVisionOCRService(VisionOCRDependencies dependencies)
    : deps_(std::move(dependencies)) {
    if (deps_.recognizer == nullptr)
        deps_.recognizer = &platform::TesseractRecognizer::shared();
    if (!deps_.supportedLanguages)
        deps_.supportedLanguages = [] { return OCRService::supportedVisionRecognitionLanguages(); };
    if (!deps_.effectiveInputLanguage)
        deps_.effectiveInputLanguage = &DefaultVisionOCRService::effectiveOCRInputLanguage;
    if (!deps_.customWords)
        deps_.customWords = [] { return customWordsOf(UserDictionaryStore::loadEntries()); };
}

std::vector<std::string>
DefaultVisionOCRService::customWordsOf(const std::vector<UserDictionaryEntry>& entries) {
    std::vector<std::string> words;
    for (const UserDictionaryEntry& entry : entries) {
        for (const std::string* text : {&entry.wrong, &entry.correct}) {
            if (!text->empty())
                words.push_back(*text);
        }
    }
    return words;
}

DefaultVisionOCRService& DefaultVisionOCRService::shared() {
    static DefaultVisionOCRService service;
    return service;
}

std::optional<std::string> DefaultVisionOCRService::effectiveOCRInputLanguage() {
    auto fromSession = platform::MainDispatcher::shared().runAndWait([]() -> std::optional<std::string> {
        const auto& config = AppState::shared().activeSessionConfig();
        return config ? config->transcription.language : std::nullopt;
    });
    if (fromSession)
        return fromSession;
    return platform::SettingsStore::standard().string("inputLanguage");
}

std::vector<platform::TextObservation>
DefaultVisionOCRService::recognizeAllTextObservations(const platform::RgbImage& image,
                                                      const std::vector<std::string>& sessionOCRLanguages,
                                                      const std::stop_token& stop) {
    if (stop.stop_requested() || image.width <= 0 || image.height <= 0)
        return {};
    const platform::GrayImage prepared = OCRService::preprocessForOCR(image);
    platform::TextRecognitionRequest request{
        .languages = OCRService::orderedSupportedRecognitionLanguages(
            sessionOCRLanguages, deps_.supportedLanguages(), deps_.effectiveInputLanguage),
        .customWords = deps_.customWords(),
    };
    std::string error;
    std::vector<platform::TextObservation> observations =
        deps_.recognizer->recognize(prepared, request, stop, error);
    if (!error.empty())
        VelnoteLogger::app().error("text recognition failed: {}", error);
    const PixelRect bounds{0, 0, static_cast<double>(image.width), static_cast<double>(image.height)};
    for (platform::TextObservation& o : observations) {
        const PixelRect box = PixelRect{o.x, o.y, o.width, o.height}.intersection(bounds);
        o.x = box.x;
        o.y = box.y;
        o.width = box.width;
        o.height = box.height;
    }
    return stop.stop_requested() ? std::vector<platform::TextObservation>{} : observations;
}

std::vector<OCRResult> DefaultVisionOCRService::extractImportantTextWithVision(
    const platform::RgbImage& image, const platform::RgbImage* currentThumbnail,
    const platform::RgbImage* previousThumbnail, std::int64_t maxChars,
    const std::vector<std::string>& sessionOCRLanguages, const std::stop_token& stop) {
    const auto observations = recognizeAllTextObservations(image, sessionOCRLanguages, stop);
    const auto current = pixelsOf(currentThumbnail);
    const auto previous = pixelsOf(previousThumbnail);
    return OCRService::selectImportantLines(observations, image.width, image.height,
                                            current ? &*current : nullptr, previous ? &*previous : nullptr,
                                            maxChars);
}

std::string
DefaultVisionOCRService::recognizeTextOnEntireImage(const platform::RgbImage& image,
                                                    const std::vector<std::string>& sessionOCRLanguages,
                                                    const std::stop_token& stop) {
    return OCRService::joinedText(recognizeAllTextObservations(image, sessionOCRLanguages, stop));
}

std::pair<std::vector<StructuredTextRegion>, std::int64_t>
DefaultVisionOCRService::extractStructuredTextRegions(const platform::RgbImage& image,
                                                      const platform::RgbImage* currentThumbnail,
                                                      const platform::RgbImage* previousThumbnail,
                                                      std::int64_t maxRegions, std::int64_t saliencyTopK,
                                                      const std::stop_token& stop) {
    if (!(static_cast<double>(image.width) * image.height > 0) || stop.stop_requested())
        return {};
    // Saliency and recognition run side by side; the recognition takes far longer.
    auto salientFuture = std::async(std::launch::async, [&image, saliencyTopK] {
        return OCRService::extractSalientRegions(image, saliencyTopK);
    });
    const auto observations = recognizeAllTextObservations(image, {}, stop);
    const std::vector<SalientRegion> salient = salientFuture.get();
    if (stop.stop_requested())
        return {};
    const auto current = pixelsOf(currentThumbnail);
    const auto previous = pixelsOf(previousThumbnail);
    auto regions = OCRService::selectStructuredRegions(observations, salient, image.width, image.height,
                                                       current ? &*current : nullptr,
                                                       previous ? &*previous : nullptr, maxRegions);
    return {std::move(regions), static_cast<std::int64_t>(salient.size())};
}

} // namespace velnote
