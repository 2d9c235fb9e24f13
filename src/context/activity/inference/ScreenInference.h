#pragma once

#include "context/ocr/OCRTypes.h"
#include "platform/concurrency/TimerScheduler.h"
#include "platform/image/RgbImage.h"
#include "platform/json/Json.h"

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace velnote {

// The on-device model's judgement of one screen.
struct VisionInference {
    std::string service{};               // application or service name
    std::string screenType{};            // editor, browser, chat, dashboard, ...
    std::optional<std::string> entity{}; // document name, URL, person, ...
    double confidence = 0;               // 0...1
    std::string description{};           // what the user is doing

    bool operator==(const VisionInference&) const = default;
};

// {"service", "screen_type", "entity" (left out when absent), "confidence", "description"}.
void to_json(platform::Json& json, const VisionInference& inference);

// One analysis of a screenshot.
struct ScreenshotInferenceResult {
    VisionInference inference{};
    std::vector<StructuredTextRegion> regions{}; // what the judgement was made from
    int saliencyRegionCount = 0;
    bool usedCachedInference = false;         // an earlier inference of the window was reused
    std::optional<double> regionSimilarity{}; // to the regions of the reused inference
};

// The weighted text regions of a screenshot (the structured OCR of the screen-capture service).
class StructuredTextRegionSource {
  public:
    virtual ~StructuredTextRegionSource() = default;
    // At most `maxRegions` regions and the number of salient regions used (at most
    // `saliencyTopK`); the thumbnails, of one size, measure what changed since the previous
    // screenshot of the window. Empty when stopped.
    virtual std::pair<std::vector<StructuredTextRegion>, int>
    extractStructuredTextRegions(const platform::RgbImage& screenshot,
                                 const platform::RgbImage* currentThumbnail,
                                 const platform::RgbImage* previousThumbnail, int maxRegions,
                                 int saliencyTopK, std::stop_token stop) = 0;
};

// A text answer of the on-device model to a system and a user prompt; throws on failure.
using ScreenModel = std::function<std::string(const std::string& systemPrompt, const std::string& userPrompt,
                                              std::stop_token)>;

// Turns a front-window screenshot and its title into a VisionInference: the text regions are read
// (within 15 s), then the title and the first ten region texts go to the on-device model (within
// 45 s), whose JSON answer is read leniently. Holds no state; calls from any thread block their
// caller.
class ScreenInference {
  public:
    static constexpr double kOCRTimeLimitSeconds = 15;
    static constexpr double kModelTimeLimitSeconds = 45;

    struct Dependencies {
        std::shared_ptr<StructuredTextRegionSource> ocr;
        ScreenModel model;
        platform::TimerScheduler* timers = nullptr; // TimerScheduler::shared()
    };

    explicit ScreenInference(Dependencies dependencies);

    // The regions and the salient count; throws the timeout error or the OCR's own.
    std::pair<std::vector<StructuredTextRegion>, int>
    fetchVisionOCR(const platform::RgbImage& screenshot, const platform::RgbImage* currentThumbnail,
                   const platform::RgbImage* previousThumbnail, std::stop_token stop = {}) const;

    // Never fails: a failed or late model gives service and screen type "unknown", confidence 0
    // and the description "Inference failed: " with the reason ("timeout" at the limit).
    ScreenshotInferenceResult fetchVisionLLMInference(const std::optional<std::string>& windowTitle,
                                                      const std::vector<StructuredTextRegion>& regions,
                                                      int saliencyCount, std::stop_token stop = {}) const;

  private:
    Dependencies dependencies_;
};

// Pure helpers of the screen inference.

// Similarity of two screens' first ten region texts (case and spacing ignored), 0 when either has
// no text.
double regionSimilarityBetween(const std::vector<StructuredTextRegion>& a,
                               const std::vector<StructuredTextRegion>& b);
// Jaccard index of the two texts' character-bigram sets, white space removed; texts under two
// characters are 1 when equal, else 0.
double regionTextSimilarity(std::string_view a, std::string_view b);
// {"app", "window_title", "top_texts"} pretty-printed with sorted keys, "/" unescaped.
std::string makeVisionInput(const std::optional<std::string>& title,
                            const std::vector<StructuredTextRegion>& regions);
std::string makeVisionPrompt(const std::optional<std::string>& title,
                             const std::vector<StructuredTextRegion>& regions);
std::string visionSystemPrompt();
// The JSON object in a model answer: the whole answer without code fences when it is one,
// else the first object with at most one level of nested braces; none without one.
std::optional<std::string> normalizedJSONPayload(std::string_view rawText);
VisionInference parseVisionInference(std::string_view rawText);

} // namespace velnote
