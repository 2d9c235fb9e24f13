#include "ui/models/core/ByteCountText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace velnote {
namespace {

std::string withoutTrailingZeros(std::string number) {
    if (number.find('.') == std::string::npos)
        return number;
    while (number.back() == '0')
        number.pop_back();
    if (number.back() == '.')
        number.pop_back();
    return number;
}

std::string fixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return withoutTrailingZeros(buffer);
}

} // namespace

std::string formatByteCount(std::int64_t bytes) {
    if (bytes <= 0)
        return "0 MB";
    constexpr double kMega = 1e6;
    constexpr double kGiga = 1e9;
    const double value = static_cast<double>(bytes);
    // 999.96 MB would round to "1000 MB": from there on the gigabyte reads better.
    if (value < kGiga - 0.05 * kMega)
        return fixed(std::max(value / kMega, 0.1), 1) + " MB";
    return fixed(value / kGiga, 2) + " GB";
}

} // namespace velnote
