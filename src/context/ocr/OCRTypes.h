#pragma once

#include "platform/json/Json.h"

#include <algorithm>
#include <string>

namespace velnote {

// A rectangle of a screenshot in pixels: origin top-left, y downwards.
struct PixelRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double minX() const { return x; }
    double minY() const { return y; }
    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    double midX() const { return x + width / 2; }
    double midY() const { return y + height / 2; }
    double area() const { return width * height; }
    bool isEmpty() const { return !(width > 0 && height > 0); }
    bool contains(double px, double py) const { return px >= x && px < maxX() && py >= y && py < maxY(); }
    // The part both share; an empty rectangle (width and height 0) when they do not overlap.
    PixelRect intersection(const PixelRect& other) const {
        const double left = std::max(x, other.x);
        const double top = std::max(y, other.y);
        const double right = std::min(maxX(), other.maxX());
        const double bottom = std::min(maxY(), other.maxY());
        if (!(right > left && bottom > top))
            return PixelRect{};
        return PixelRect{left, top, right - left, bottom - top};
    }

    bool operator==(const PixelRect&) const = default;
};

// One line the OCR service selected from a screenshot.
struct OCRResult {
    std::string text; // trimmed
    PixelRect boundingBox;
    double score = 0; // the line's final score

    bool operator==(const OCRResult&) const = default;
};

// One weighted text region of a screenshot, for telling what the user looks at.
struct StructuredTextRegion {
    std::string text;     // trimmed
    double weight = 0;    // the region's final weight
    std::string position; // "top", "center" or "bottom" of the screen
    std::string size;     // "small", "medium" or "large"

    bool operator==(const StructuredTextRegion&) const = default;
};

// {"text", "weight", "position", "size"}; decoding requires all four with those types.
void to_json(platform::Json& j, const StructuredTextRegion& region);
void from_json(const platform::Json& j, StructuredTextRegion& region);

// A part of a screenshot that draws the eye.
struct SalientRegion {
    PixelRect boundingBox;
    float saliencyScore = 0; // 0 to 1

    bool operator==(const SalientRegion&) const = default;
};

} // namespace velnote
