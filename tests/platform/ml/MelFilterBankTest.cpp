#include "platform/ml/MelFilterBank.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <stdexcept>

namespace velnote::platform::ml {
namespace {

TEST(MelFilterBankTest, SlaneyScaleIsLinearBelowOneKilohertzAndLogarithmicAbove) {
    EXPECT_DOUBLE_EQ(hzToSlaneyMel(0.0), 0.0);
    EXPECT_NEAR(hzToSlaneyMel(1000.0), 15.0, 1e-12);
    EXPECT_NEAR(hzToSlaneyMel(6400.0), 42.0, 1e-9); // 27 mels per factor 6.4
    for (double hz : {0.0, 440.0, 999.0, 1000.0, 3000.0, 8000.0})
        EXPECT_NEAR(slaneyMelToHz(hzToSlaneyMel(hz)), hz, 1e-9);
}

TEST(MelFilterBankTest, FiltersAreNormalisedTrianglesCoveringTheBand) {
    for (int melCount : {80, 128}) {
        const auto filters = slaneyMelFilterBank(melCount);
        ASSERT_EQ(filters.size(), static_cast<std::size_t>(melCount) * 201);
        EXPECT_TRUE(std::all_of(filters.begin(), filters.end(), [](float w) { return w >= 0.0f; }));
        for (int m = 0; m < melCount; ++m) {
            const float* row = &filters[static_cast<std::size_t>(m) * 201];
            const auto peak = std::max_element(row, row + 201) - row;
            EXPECT_GT(row[peak], 0.0f) << "band " << m << " is empty";
            if (m > 0) {
                EXPECT_GE(peak, std::max_element(row - 201, row) - (row - 201)) << "band " << m;
            }
        }
        // Wide bands hold many bins, where the sum approximates the unit area closely.
        const float* last = &filters[static_cast<std::size_t>(melCount - 1) * 201];
        double area = 0;
        for (int k = 0; k < 201; ++k)
            area += last[k] * 40.0; // 16000 Hz / 400 per bin
        EXPECT_NEAR(area, 1.0, 0.02);
    }
}

TEST(MelFilterBankTest, MatchesTheValueOfThePublishedFilterBank) {
    // First band, second bin of the 80-band bank the published models ship.
    EXPECT_NEAR(slaneyMelFilterBank(80)[1], 0.02486259, 1e-7);
    EXPECT_EQ(slaneyMelFilterBank(80)[0], 0.0f);
}

TEST(MelFilterBankTest, RejectsImpossibleBands) {
    EXPECT_THROW(slaneyMelFilterBank(0), std::invalid_argument);
    EXPECT_THROW(slaneyMelFilterBank(80, 0), std::invalid_argument);
    EXPECT_THROW(slaneyMelFilterBank(80, 400, 16000, 0, 9000), std::invalid_argument);
    EXPECT_THROW(slaneyMelFilterBank(80, 400, 16000, 100, 100), std::invalid_argument);
}

} // namespace
} // namespace velnote::platform::ml
