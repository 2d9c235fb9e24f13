#include "platform/image/RgbImage.h"

#include <algorithm>
#include <cmath>

namespace velnote::platform {

namespace {

// How the source pixels [first, first + weights.size()) make up one target
// pixel along one axis; the weights add up to 1.
struct Span {
    int first = 0;
    std::vector<double> weights;
};

// Target pixel t covers the source interval [t·s, (t+1)·s) with s = source / target.
std::vector<Span> spans(int source, int target) {
    const double step = static_cast<double>(source) / target;
    std::vector<Span> result(static_cast<std::size_t>(target));
    for (int t = 0; t < target; ++t) {
        const double begin = t * step;
        const double end = std::min((t + 1) * step, static_cast<double>(source));
        Span& span = result[static_cast<std::size_t>(t)];
        span.first = std::min(static_cast<int>(std::floor(begin)), source - 1);
        for (int i = span.first; i < source && i < end; ++i) {
            const double covered = std::min<double>(i + 1, end) - std::max<double>(i, begin);
            if (covered > 0)
                span.weights.push_back(covered / (end - begin));
            else
                span.weights.push_back(0);
        }
    }
    return result;
}

// One source row scaled horizontally, as sums per channel.
std::vector<double> scaledRow(const RgbImage& image, int y, const std::vector<Span>& columns) {
    std::vector<double> row(columns.size() * 3, 0.0);
    for (std::size_t x = 0; x < columns.size(); ++x) {
        const Span& span = columns[x];
        for (std::size_t k = 0; k < span.weights.size(); ++k) {
            const std::uint8_t* source = image.pixel(span.first + static_cast<int>(k), y);
            for (int c = 0; c < 3; ++c)
                row[x * 3 + c] += span.weights[k] * source[c];
        }
    }
    return row;
}

} // namespace

RgbImage scaledByAreaAverage(const RgbImage& image, int width, int height) {
    if (image.width <= 0 || image.height <= 0 || width <= 0 || height <= 0)
        throw ImageError("cannot scale an empty image");
    const std::vector<Span> columns = spans(image.width, width);
    const std::vector<Span> rows = spans(image.height, height);
    RgbImage result{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    // Neighbouring target rows share their boundary source row: keep the last one scaled.
    int cachedY = -1;
    std::vector<double> cached;
    for (int y = 0; y < height; ++y) {
        const Span& span = rows[static_cast<std::size_t>(y)];
        std::vector<double> sum(static_cast<std::size_t>(width) * 3, 0.0);
        for (std::size_t k = 0; k < span.weights.size(); ++k) {
            const int sourceY = span.first + static_cast<int>(k);
            if (sourceY != cachedY) {
                cached = scaledRow(image, sourceY, columns);
                cachedY = sourceY;
            }
            for (std::size_t i = 0; i < sum.size(); ++i)
                sum[i] += span.weights[k] * cached[i];
        }
        std::uint8_t* out = result.pixel(0, y);
        for (std::size_t i = 0; i < sum.size(); ++i)
            out[i] = static_cast<std::uint8_t>(std::clamp(std::lround(sum[i]), 0L, 255L));
    }
    return result;
}

} // namespace velnote::platform
