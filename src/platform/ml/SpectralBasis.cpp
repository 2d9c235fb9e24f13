#include "platform/ml/SpectralBasis.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>

namespace velnote::platform::ml {

void fillHannDftBasis(float* basis, int n, int bins) {
    for (int k = 0; k < bins; ++k) {
        for (int t = 0; t < n; ++t) {
            const double window = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * t / n);
            const double angle =
                2.0 * std::numbers::pi * static_cast<double>((static_cast<std::int64_t>(k) * t) % n) / n;
            basis[static_cast<std::size_t>(k) * n + t] = static_cast<float>(window * std::cos(angle));
            basis[static_cast<std::size_t>(k + bins) * n + t] = static_cast<float>(-window * std::sin(angle));
        }
    }
}

void fillDoubledFilters(float* target, const float* bank, int rows, int bins) {
    for (int m = 0; m < rows; ++m) {
        std::copy_n(bank + static_cast<std::size_t>(m) * bins, bins,
                    target + static_cast<std::size_t>(m) * 2 * bins);
        std::copy_n(bank + static_cast<std::size_t>(m) * bins, bins,
                    target + static_cast<std::size_t>(m) * 2 * bins + bins);
    }
}

SpectralConstants::SpectralConstants(int n, int bins, int rows, const float* bank) {
    basis_ = constants_.add(GGML_TYPE_F32, {n, 2 * bins});
    filters_ = constants_.add(GGML_TYPE_F32, {2 * bins, rows});
    constants_.allocate();
    fillHannDftBasis(static_cast<float*>(basis_->data), n, bins);
    fillDoubledFilters(static_cast<float*>(filters_->data), bank, rows, bins);
}

} // namespace velnote::platform::ml
