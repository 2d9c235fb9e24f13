#include "context/ocr/OCRService.h"

#include "platform/ocr/TesseractRecognizer.h"
#include "platform/settings/SettingsStore.h"
#include "platform/text/CaseMapping.h"
#include "platform/text/Characters.h"
#include "platform/text/Whitespace.h"
#include "session/config/OCRLanguageChoice.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace velnote {
namespace {

// Calls `visit(codePoint)` for each code point of `text`; an invalid sequence gives U+FFFD.
template <class F> void forEachCodePoint(std::string_view text, F&& visit) {
    std::int32_t i = 0;
    const auto length = static_cast<std::int32_t>(text.size());
    while (i < length) {
        UChar32 c = 0;
        U8_NEXT(text.data(), i, length, c);
        visit(c < 0 ? 0xFFFD : c);
    }
}

bool isKanaOrIdeograph(UChar32 c) {
    return (c >= 0x3040 && c <= 0x30FF) || (c >= 0x4E00 && c <= 0x9FFF);
}

// Letters that say something: Latin letters (and the six signs between the two cases), kana,
// ideographs. Digits do not count.
bool isMeaningful(UChar32 c) {
    return (c >= 0x41 && c <= 0x7A) || isKanaOrIdeograph(c);
}

// Symbols of Unicode categories Sm, Sc, Sk and So, and the marks screens draw as icons.
bool isSymbol(UChar32 c) {
    static const std::u32string kIconMarks = U"♥★■□▲▼◆◇●○♦♣♠♤♧♡♢⅛⅜⅝⅞←→↑↓↔↕⇒⇔✓✗✘✕✖✚✜❤";
    switch (u_charType(c)) {
    case U_MATH_SYMBOL:
    case U_CURRENCY_SYMBOL:
    case U_MODIFIER_SYMBOL:
    case U_OTHER_SYMBOL:
        return true;
    default:
        return kIconMarks.find(static_cast<char32_t>(c)) != std::u32string::npos;
    }
}

// "^(https?://|www\.)\S+" without a regular expression: the prefix in any case, then at least one
// character that is not white space.
bool beginsWithUrl(std::string_view text) {
    const std::string lower = platform::lowercased(text.substr(0, std::min<std::size_t>(text.size(), 8)));
    std::size_t prefix = 0;
    for (std::string_view candidate : {"https://", "http://", "www."}) {
        if (lower.starts_with(candidate)) {
            prefix = candidate.size();
            break;
        }
    }
    if (prefix == 0 || prefix >= text.size())
        return false;
    bool nonSpace = false;
    forEachCodePoint(text.substr(prefix, 4), [&, first = true](UChar32 c) mutable {
        if (first)
            nonSpace = !u_isUWhiteSpace(c);
        first = false;
    });
    return nonSpace;
}

std::size_t countScalars(std::string_view text, bool (*test)(UChar32)) {
    std::size_t n = 0;
    forEachCodePoint(text, [&](UChar32 c) { n += test(c) ? 1 : 0; });
    return n;
}

std::string withoutWhitespace(std::string_view text) {
    std::string kept;
    std::int32_t i = 0;
    const auto length = static_cast<std::int32_t>(text.size());
    while (i < length) {
        const std::int32_t start = i;
        UChar32 c = 0;
        U8_NEXT(text.data(), i, length, c);
        if (c < 0 || !u_isUWhiteSpace(c))
            kept.append(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
    }
    return kept;
}

// The observation's box cut to the image.
PixelRect clippedBox(const platform::TextObservation& o, double width, double height) {
    return PixelRect{o.x, o.y, o.width, o.height}.intersection(PixelRect{0, 0, width, height});
}

// × 1 for an unchanged line, up to × 2.5 for one whose pixels changed by a root mean square of 20
// or more since the previous screenshot.
double changeFactor(const PixelRect& rect, const platform::GrayImage* current,
                    const platform::GrayImage* previous, double width, double height) {
    if (current == nullptr || previous == nullptr)
        return 1;
    const double d = OCRService::regionPixelDiff(rect, *current, *previous, current->width, current->height,
                                                 width, height);
    return d - 8 > 0 ? 1 + 1.5 * std::min(1.0, (d - 8) / 12) : 1;
}

// ---- Image filters on a float luminance plane (0..1) ----

struct Plane {
    int width = 0;
    int height = 0;
    std::vector<float> values;
    float& at(int x, int y) { return values[static_cast<std::size_t>(y) * width + x]; }
    float at(int x, int y) const { return values[static_cast<std::size_t>(y) * width + x]; }
};

// A separable Gaussian blur with edges clamped.
Plane blurred(const Plane& source, double sigma) {
    const int radius = std::max(1, static_cast<int>(std::ceil(sigma * 2.5)));
    std::vector<float> kernel(static_cast<std::size_t>(2 * radius + 1));
    float sum = 0;
    for (int k = -radius; k <= radius; ++k) {
        const auto w = static_cast<float>(std::exp(-(k * k) / (2 * sigma * sigma)));
        kernel[static_cast<std::size_t>(k + radius)] = w;
        sum += w;
    }
    for (float& w : kernel)
        w /= sum;
    Plane across = source;
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < source.width; ++x) {
            float v = 0;
            for (int k = -radius; k <= radius; ++k)
                v += kernel[static_cast<std::size_t>(k + radius)] *
                     source.at(std::clamp(x + k, 0, source.width - 1), y);
            across.at(x, y) = v;
        }
    }
    Plane result = across;
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < source.width; ++x) {
            float v = 0;
            for (int k = -radius; k <= radius; ++k)
                v += kernel[static_cast<std::size_t>(k + radius)] *
                     across.at(x, std::clamp(y + k, 0, source.height - 1));
            result.at(x, y) = v;
        }
    }
    return result;
}

// value + amount × (value − blurred value)
void sharpen(Plane& plane, double sigma, float amount) {
    const Plane blur = blurred(plane, sigma);
    for (std::size_t i = 0; i < plane.values.size(); ++i)
        plane.values[i] =
            std::clamp(plane.values[i] + amount * (plane.values[i] - blur.values[i]), 0.0F, 1.0F);
}

// A connected patch of salient cells, for the saliency estimate.
struct Patch {
    int minX, minY, maxX, maxY;
    double sum = 0;
    int cells = 0;
};

} // namespace

// ---- Languages ----

std::optional<std::string>
OCRService::preferredVisionRecognitionLanguage(std::optional<std::string_view> input) {
    return OCRLanguageChoice::preferredVisionRecognitionLanguage(input,
                                                                 supportedVisionRecognitionLanguages());
}

const std::vector<std::string>& OCRService::supportedVisionRecognitionLanguages() {
    static const std::vector<std::string> languages = recognitionLanguages(tessdataDirectory());
    return languages;
}

std::vector<std::string> OCRService::recognitionLanguages(const std::filesystem::path& tessdata) {
    return platform::TesseractRecognizer::installedLanguages(tessdata);
}

std::filesystem::path OCRService::tessdataDirectory() {
    return platform::TesseractRecognizer::tessdataDirectory();
}

std::vector<std::string> OCRService::currentVisionOCRRecognitionLanguages() {
    return OCRLanguageChoice::currentVisionOCRRecognitionLanguages(platform::SettingsStore::standard(),
                                                                   supportedVisionRecognitionLanguages());
}

std::vector<std::string> OCRService::orderedSupportedRecognitionLanguages(
    const std::vector<std::string>& sessionOCRLanguages, const std::vector<std::string>& supported,
    const std::function<std::optional<std::string>()>& effectiveInputLanguage) {
    if (supported.empty())
        return {};
    std::vector<std::string> mapped;
    for (const std::string& language : sessionOCRLanguages) {
        auto match = OCRLanguageChoice::preferredVisionRecognitionLanguage(language, supported);
        if (match && std::find(mapped.begin(), mapped.end(), *match) == mapped.end())
            mapped.push_back(*match);
    }
    if (!mapped.empty())
        return mapped;
    const std::optional<std::string> input = effectiveInputLanguage ? effectiveInputLanguage() : std::nullopt;
    const std::string target =
        OCRLanguageChoice::preferredVisionRecognitionLanguage(input, supported).value_or("ja-JP");
    std::vector<std::string> ordered = supported;
    auto front = std::find(ordered.begin(), ordered.end(), target);
    if (front == ordered.end())
        front = std::find(ordered.begin(), ordered.end(), "ja-JP");
    if (front != ordered.end())
        std::rotate(ordered.begin(), front, front + 1);
    return ordered;
}

// ---- Image and measures ----

platform::GrayImage OCRService::preprocessForOCR(const platform::RgbImage& image) {
    const platform::GrayImage gray = platform::grayscale(image);
    if (gray.pixels.empty())
        return gray;
    Plane plane{gray.width, gray.height, std::vector<float>(gray.pixels.size())};
    for (std::size_t i = 0; i < gray.pixels.size(); ++i) {
        float v = gray.pixels[i] / 255.0F + 0.08F; // brightness
        v = (v - 0.5F) * 1.25F + 0.5F;             // contrast
        v = std::clamp(v, 0.0F, 1.0F);
        v += 0.35F * v * (1 - v) * (1 - v) - 0.35F * v * v * (1 - v); // lift shadows, pull highlights
        plane.values[i] = std::clamp(v, 0.0F, 1.0F);
    }
    sharpen(plane, 1.4, 0.6F);  // unsharp mask
    sharpen(plane, 0.8, 0.45F); // luminance sharpen
    platform::GrayImage result{gray.width, gray.height, std::vector<std::uint8_t>(gray.pixels.size())};
    for (std::size_t i = 0; i < plane.values.size(); ++i)
        result.pixels[i] = static_cast<std::uint8_t>(std::lround(plane.values[i] * 255.0F));
    return result;
}

std::optional<platform::GrayImage> OCRService::extractPixels(const platform::RgbImage& image) {
    if (image.width <= 0 || image.height <= 0)
        return std::nullopt;
    return platform::grayscale(image);
}

double OCRService::regionPixelDiff(const PixelRect& rect, const platform::GrayImage& current,
                                   const platform::GrayImage& previous, double thumbWidth, double thumbHeight,
                                   double fullWidth, double fullHeight) {
    if (!(fullWidth > 0 && fullHeight > 0))
        return 0;
    const double sx = thumbWidth / fullWidth;
    const double sy = thumbHeight / fullHeight;
    const double values[] = {rect.minX() * sx, rect.maxX() * sx, rect.minY() * sy, rect.maxY() * sy};
    for (double v : values) {
        if (!std::isfinite(v))
            return 0;
    }
    const auto tw = static_cast<long long>(std::trunc(thumbWidth));
    const auto th = static_cast<long long>(std::trunc(thumbHeight));
    const long long x0 = std::max(0LL, static_cast<long long>(std::trunc(values[0])));
    const long long x1 = std::min(static_cast<long long>(std::trunc(values[1])), tw);
    const long long y0 = std::max(0LL, static_cast<long long>(std::trunc(values[2])));
    const long long y1 = std::min(static_cast<long long>(std::trunc(values[3])), th);
    double sum = 0;
    long long count = 0;
    const auto limit = static_cast<long long>(std::min(current.pixels.size(), previous.pixels.size()));
    for (long long y = y0; y < y1; ++y) {
        for (long long x = x0; x < x1; ++x) {
            const long long i = y * tw + x;
            if (i >= limit)
                continue;
            const double d = static_cast<double>(current.pixels[static_cast<std::size_t>(i)]) -
                             previous.pixels[static_cast<std::size_t>(i)];
            sum += d * d;
            ++count;
        }
    }
    return count >= 1 ? std::sqrt(sum / static_cast<double>(count)) : 0;
}

double OCRService::characterBigramJaccard(std::string_view a, std::string_view b) {
    const std::string left = withoutWhitespace(platform::lowercased(a));
    const std::string right = withoutWhitespace(platform::lowercased(b));
    const auto leftChars = platform::splitCharacters(left);
    const auto rightChars = platform::splitCharacters(right);
    if (leftChars.size() < 2 || rightChars.size() < 2)
        return left == right ? 1 : 0;
    const auto bigrams = [](const std::vector<std::string_view>& chars) {
        std::set<std::string> set;
        for (std::size_t i = 0; i + 1 < chars.size(); ++i)
            set.insert(std::string(chars[i]) + std::string(chars[i + 1]));
        return set;
    };
    const std::set<std::string> first = bigrams(leftChars);
    const std::set<std::string> second = bigrams(rightChars);
    std::size_t shared = 0;
    for (const std::string& pair : first)
        shared += second.count(pair);
    const std::size_t unionSize = first.size() + second.size() - shared;
    return unionSize == 0 ? 0 : static_cast<double>(shared) / static_cast<double>(unionSize);
}

double OCRService::rectIoU(const PixelRect& a, const PixelRect& b) {
    const PixelRect i = a.intersection(b);
    if (i.isEmpty())
        return 0;
    const double u = a.area() + b.area() - i.area();
    return u > 0 ? i.area() / u : 0;
}

// ---- Lines ----

double OCRService::scoreTextObservation(std::string_view text, float confidence, const PixelRect& rect,
                                        double imageHeight) {
    if (!(imageHeight > 0) || rect.minY() / imageHeight < 0.05)
        return 0;
    if (beginsWithUrl(text))
        return 0;
    const double count = static_cast<double>(std::max<std::size_t>(platform::characterCount(text), 1));
    const double symbolRatio = static_cast<double>(countScalars(text, &isSymbol)) / count;
    if (symbolRatio > 0.4)
        return 0;
    const double cjkRatio = static_cast<double>(countScalars(text, &isKanaOrIdeograph)) / count;
    const double length = static_cast<double>(platform::characterCount(text));
    return (1 - 1.5 * symbolRatio) * (0.5 * confidence + 0.5 * std::min(length / 60, 1.0)) *
           (1 + 0.3 * cjkRatio);
}

std::vector<OCRResult>
OCRService::selectImportantLines(const std::vector<platform::TextObservation>& observations, double width,
                                 double height, const platform::GrayImage* currentThumbnail,
                                 const platform::GrayImage* previousThumbnail, std::int64_t maxChars) {
    std::vector<OCRResult> candidates;
    for (const platform::TextObservation& observation : observations) {
        std::string text = platform::trimWhitespace(observation.text);
        if (platform::characterCount(text) < 4)
            continue;
        const PixelRect rect = clippedBox(observation, width, height);
        double score = scoreTextObservation(text, observation.confidence, rect, height);
        if (!(score > 0))
            continue;
        score *= changeFactor(rect, currentThumbnail, previousThumbnail, width, height);
        candidates.push_back(OCRResult{std::move(text), rect, score});
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const OCRResult& a, const OCRResult& b) { return a.score > b.score; });
    std::vector<OCRResult> kept;
    for (OCRResult& candidate : candidates) {
        const bool duplicate = std::any_of(kept.begin(), kept.end(), [&](const OCRResult& k) {
            return rectIoU(candidate.boundingBox, k.boundingBox) > 0.5 ||
                   k.text.find(candidate.text) != std::string::npos ||
                   candidate.text.find(k.text) != std::string::npos ||
                   characterBigramJaccard(candidate.text, k.text) > 0.85;
        });
        if (!duplicate)
            kept.push_back(std::move(candidate));
    }
    std::vector<OCRResult> results;
    std::int64_t total = 0;
    for (OCRResult& line : kept) {
        if (maxChars > 0 && total >= maxChars)
            break;
        total += static_cast<std::int64_t>(platform::characterCount(line.text));
        results.push_back(std::move(line));
    }
    return results;
}

std::string OCRService::joinedText(const std::vector<platform::TextObservation>& observations) {
    std::string joined;
    for (std::size_t i = 0; i < observations.size(); ++i)
        joined += (i == 0 ? "" : " ") + observations[i].text;
    return platform::trimWhitespace(joined);
}

// ---- Weighted regions ----

// The operating system's attention model has no counterpart here. This estimate marks what stands
// out from its surroundings: on a grid of cells about 1/48 of the image wide, a cell's saliency is
// how far its mean luminance lies from that of its wider neighbourhood plus how much it varies
// inside (edges, text). Cells above half the strongest value form patches; each patch is one
// region, its confidence the mean saliency of its cells against the strongest.
std::vector<SalientRegion> OCRService::extractSalientRegions(const platform::RgbImage& image,
                                                             std::int64_t topK) {
    if (topK <= 0 || image.width <= 0 || image.height <= 0)
        return {};
    const platform::GrayImage gray = platform::grayscale(image);
    const int cell = std::max(1, std::max(image.width, image.height) / 48);
    const int cols = (image.width + cell - 1) / cell;
    const int rows = (image.height + cell - 1) / cell;
    Plane mean{cols, rows, std::vector<float>(static_cast<std::size_t>(cols) * rows)};
    Plane spread = mean;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            double sum = 0, squares = 0;
            int n = 0;
            for (int y = r * cell; y < std::min((r + 1) * cell, image.height); ++y) {
                for (int x = c * cell; x < std::min((c + 1) * cell, image.width); ++x) {
                    const double v = gray.at(x, y) / 255.0;
                    sum += v;
                    squares += v * v;
                    ++n;
                }
            }
            const double m = sum / n;
            mean.at(c, r) = static_cast<float>(m);
            spread.at(c, r) = static_cast<float>(std::sqrt(std::max(0.0, squares / n - m * m)));
        }
    }
    const Plane surround = blurred(mean, 4);
    Plane saliency = mean;
    float strongest = 0;
    for (std::size_t i = 0; i < saliency.values.size(); ++i) {
        saliency.values[i] = std::abs(mean.values[i] - surround.values[i]) + spread.values[i];
        strongest = std::max(strongest, saliency.values[i]);
    }
    if (!(strongest > 0.02F))
        return {}; // a flat image: nothing stands out
    std::vector<int> label(saliency.values.size(), -1);
    std::vector<Patch> patches;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            const std::size_t start = static_cast<std::size_t>(r) * cols + c;
            if (label[start] >= 0 || saliency.values[start] < strongest / 2)
                continue;
            Patch patch{c, r, c, r};
            std::vector<std::pair<int, int>> stack{{c, r}};
            label[start] = static_cast<int>(patches.size());
            while (!stack.empty()) {
                const auto [x, y] = stack.back();
                stack.pop_back();
                patch.minX = std::min(patch.minX, x);
                patch.maxX = std::max(patch.maxX, x);
                patch.minY = std::min(patch.minY, y);
                patch.maxY = std::max(patch.maxY, y);
                patch.sum += saliency.at(x, y);
                ++patch.cells;
                for (const auto& [dx, dy] :
                     {std::pair{1, 0}, std::pair{-1, 0}, std::pair{0, 1}, std::pair{0, -1}}) {
                    const int nx = x + dx;
                    const int ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= cols || ny >= rows)
                        continue;
                    const std::size_t i = static_cast<std::size_t>(ny) * cols + nx;
                    if (label[i] < 0 && saliency.values[i] >= strongest / 2) {
                        label[i] = static_cast<int>(patches.size());
                        stack.emplace_back(nx, ny);
                    }
                }
            }
            patches.push_back(patch);
        }
    }
    std::vector<SalientRegion> regions;
    const PixelRect bounds{0, 0, static_cast<double>(image.width), static_cast<double>(image.height)};
    for (const Patch& p : patches) {
        const PixelRect box{static_cast<double>(p.minX * cell), static_cast<double>(p.minY * cell),
                            static_cast<double>((p.maxX - p.minX + 1) * cell),
                            static_cast<double>((p.maxY - p.minY + 1) * cell)};
        regions.push_back(
            SalientRegion{box.intersection(bounds),
                          std::clamp(static_cast<float>(p.sum / p.cells / strongest), 0.0F, 1.0F)});
    }
    std::stable_sort(regions.begin(), regions.end(), [](const SalientRegion& a, const SalientRegion& b) {
        return a.saliencyScore > b.saliencyScore;
    });
    if (regions.size() > static_cast<std::size_t>(topK))
        regions.resize(static_cast<std::size_t>(topK));
    return regions;
}

namespace {

struct WeightedText {
    std::string text;
    double weight = 0;
    PixelRect rect;
};

double saliencyBoost(const PixelRect& rect, const std::vector<SalientRegion>& salient) {
    std::optional<double> largest;
    for (const SalientRegion& s : salient) {
        std::optional<double> value;
        if (s.boundingBox.contains(rect.midX(), rect.midY()))
            value = s.saliencyScore;
        else if (const double iou = OCRService::rectIoU(rect, s.boundingBox); iou > 0.05)
            value = iou * s.saliencyScore;
        if (value)
            largest = std::max(largest.value_or(*value), *value);
    }
    return largest ? 1 + 0.85 * std::min(1.0, *largest) : 1;
}

// Appends the records of `sorted` that duplicate no kept region, until `maxRegions` are kept.
void keepDistinct(std::vector<WeightedText>& sorted, std::vector<WeightedText>& kept,
                  std::int64_t maxRegions) {
    for (WeightedText& record : sorted) {
        const bool duplicate = std::any_of(kept.begin(), kept.end(), [&](const WeightedText& k) {
            return k.text.find(record.text) != std::string::npos ||
                   record.text.find(k.text) != std::string::npos ||
                   OCRService::characterBigramJaccard(record.text, k.text) > 0.8 ||
                   OCRService::rectIoU(record.rect, k.rect) > 0.5;
        });
        if (!duplicate)
            kept.push_back(std::move(record));
        if (static_cast<std::int64_t>(kept.size()) >= maxRegions)
            return;
    }
}

void sortByWeight(std::vector<WeightedText>& records) {
    std::stable_sort(records.begin(), records.end(),
                     [](const WeightedText& a, const WeightedText& b) { return a.weight > b.weight; });
}

} // namespace

std::vector<StructuredTextRegion>
OCRService::selectStructuredRegions(const std::vector<platform::TextObservation>& observations,
                                    const std::vector<SalientRegion>& salient, double width, double height,
                                    const platform::GrayImage* currentThumbnail,
                                    const platform::GrayImage* previousThumbnail, std::int64_t maxRegions) {
    if (!(width * height > 0))
        return {};
    std::vector<WeightedText> records;
    for (const platform::TextObservation& o : observations) {
        std::string text = platform::trimWhitespace(o.text);
        if (platform::characterCount(text) < 2 || o.confidence < 0.25F)
            continue;
        const PixelRect rect = clippedBox(o, width, height);
        if (!(scoreTextObservation(text, o.confidence, rect, height) > 0) ||
            countScalars(text, &isMeaningful) < 2)
            continue;
        const double area = std::min(1.0, 15 * rect.area() / (width * height));
        const double dx = (rect.midX() - width / 2) / (width / 2);
        const double dy = (rect.midY() - height / 2) / (height / 2);
        const double distance = std::min(1.0, std::sqrt(dx * dx + dy * dy));
        const double weight = saliencyBoost(rect, salient) * (0.7 * o.confidence + 0.15) *
                              (0.6 * area + 0.4) * (1 - 0.4 * distance) *
                              changeFactor(rect, currentThumbnail, previousThumbnail, width, height);
        records.push_back(WeightedText{std::move(text), weight, rect});
    }
    sortByWeight(records);
    std::vector<WeightedText> kept;
    keepDistinct(records, kept, maxRegions);

    if (kept.size() <= 1) {
        const PixelRect centre{0.2 * width, 0.2 * height, 0.6 * width, 0.6 * height};
        std::vector<WeightedText> central;
        for (const platform::TextObservation& o : observations) {
            std::string text = platform::trimWhitespace(o.text);
            if (platform::characterCount(text) < 4 || o.confidence < 0.45F)
                continue;
            const PixelRect rect = clippedBox(o, width, height);
            if (rect.intersection(centre).isEmpty())
                continue;
            const double score = scoreTextObservation(text, o.confidence, rect, height);
            if (!(score > 0) || countScalars(text, &isMeaningful) < 2)
                continue;
            central.push_back(WeightedText{std::move(text), score, rect});
        }
        sortByWeight(central);
        keepDistinct(central, kept, maxRegions);
    }

    std::vector<StructuredTextRegion> regions;
    for (WeightedText& k : kept) {
        const double ratio = k.rect.midY() / height;
        const double areaRatio = k.rect.area() / (width * height);
        regions.push_back(StructuredTextRegion{
            .text = std::move(k.text),
            .weight = k.weight,
            .position = ratio < 0.33   ? "top"
                        : ratio < 0.67 ? "center"
                                       : "bottom",
            .size = areaRatio < 0.02   ? "small"
                    : areaRatio < 0.08 ? "medium"
                                       : "large",
        });
    }
    return regions;
}

void to_json(platform::Json& j, const StructuredTextRegion& region) {
    j = platform::Json::object();
    j["text"] = region.text;
    j["weight"] = region.weight;
    j["position"] = region.position;
    j["size"] = region.size;
}

void from_json(const platform::Json& j, StructuredTextRegion& region) {
    region.text = platform::required<std::string>(j, "text");
    region.weight = platform::required<double>(j, "weight");
    region.position = platform::required<std::string>(j, "position");
    region.size = platform::required<std::string>(j, "size");
}

} // namespace velnote
