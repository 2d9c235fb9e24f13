#include "engine/foundation/MultiArray.h"

#include "engine/foundation/ComputeUnits.h"

#include <gtest/gtest.h>

namespace basalith {
namespace {

using Index = MultiArray::Index;

TEST(MultiArrayTest, StartValueFillsOnlyWhenItsTypeMatches) {
    auto ints = MultiArray::create({1, 448}, MultiArrayDataType::int32, std::int32_t{7});
    EXPECT_EQ(ints.toIntArray(), std::vector<int>(448, 7));
    auto untouched = MultiArray::create({1, 448}, MultiArrayDataType::int32, 7.0);
    EXPECT_EQ(untouched.toIntArray(), std::vector<int>(448, 0));

    auto halves = MultiArray::create({1, 1, 1500}, MultiArrayDataType::float16, Float16(0.5f));
    EXPECT_EQ(halves.toFloatArray(), std::vector<float>(1500, 0.5f));
    auto floats = MultiArray::create({2, 3}, MultiArrayDataType::float32, 1.5f);
    EXPECT_EQ(floats.strides(), (Index{3, 1}));
    EXPECT_EQ(floats.toFloatArray(), std::vector<float>(6, 1.5f));
}

TEST(MultiArrayTest, HalfFloatBufferLayout) {
    EXPECT_EQ(MultiArray::pixelBuffer({2, 3, 5}), (PixelBufferSize{5, 6}));
    EXPECT_EQ(MultiArray::pixelBuffer({7}), (PixelBufferSize{7, 1}));
    EXPECT_FALSE(MultiArray::pixelBuffer({}));
    try {
        MultiArray({}, MultiArrayDataType::float16);
        FAIL() << "an empty half-float shape must not be created";
    } catch (const MultiArrayCreationError& e) {
        EXPECT_EQ(e.code(), MultiArrayCreationError::Code::pixelBufferFailed);
    }
    EXPECT_THROW(MultiArray({}, MultiArrayDataType::int32), std::invalid_argument);
    EXPECT_THROW(MultiArray({2, -1}, MultiArrayDataType::float32), std::invalid_argument);
}

TEST(MultiArrayTest, FromIntegers) {
    auto flat = MultiArray::from({3, 5, 8}, 1);
    EXPECT_EQ(flat.shape(), Index{3});
    EXPECT_EQ(flat.toIntArray(), (std::vector<int>{3, 5, 8}));
    EXPECT_EQ(MultiArray::from({3, 5, 8}, 3).shape(), (Index{1, 1, 3}));
    EXPECT_THROW(MultiArray::from({1}, 0), std::invalid_argument);
    EXPECT_THROW(MultiArray::from({std::int64_t{1} << 40}, 1), std::out_of_range);
}

TEST(MultiArrayTest, LinearOffsetUsesThePositionsBothListsHave) {
    MultiArray array({3, 3, 20}, MultiArrayDataType::float32);
    EXPECT_EQ(array.linearOffset({0, 2, 3}, Index{60, 20, 1}), 43);
    EXPECT_EQ(array.linearOffset({0, 2, 3}, Index{60, 20}), 40);
    EXPECT_EQ(array.linearOffset({1, 2, 3}), 60 + 40 + 3);
}

TEST(MultiArrayTest, FillLastDimensionSetsOnlyTheRange) {
    MultiArray array({1, 1, 8}, MultiArrayDataType::float16);
    array.fillLastDimension(2, 5, Float16(-1.0f));
    EXPECT_EQ(array.toFloatArray(), (std::vector<float>{0, 0, -1, -1, -1, 0, 0, 0}));
    array.fillLastDimension(3, 3, Float16(9.0f));
    EXPECT_EQ(array.toFloatArray()[3], -1.0f);
    EXPECT_THROW(array.fillLastDimension(0, 9, Float16(1.0f)), std::invalid_argument);
    MultiArray wrongShape({1, 2, 8}, MultiArrayDataType::float16);
    EXPECT_THROW(wrongShape.fillLastDimension(0, 1, Float16(1.0f)), std::invalid_argument);
}

TEST(MultiArrayTest, FillWritesTheElementAtEachIndex) {
    MultiArray logits({1, 2, 4}, MultiArrayDataType::float16);
    logits.fill({{0, 0, 1}, {0, 1, 3}}, Float16(-65504.0f));
    EXPECT_EQ(logits.toFloatArray(), (std::vector<float>{0, -65504, 0, 0, 0, 0, 0, -65504}));
    EXPECT_THROW(logits.fill({{0, 2, 0}}, Float16(1.0f)), std::out_of_range);
    EXPECT_THROW(logits.fill({{0, 0, 0}}, 1.0f), std::logic_error);
}

TEST(MultiArrayTest, ViewReadsThroughItsStridesWithoutCopying) {
    // A 2×3 column-major block seen as row-major [2, 3].
    std::vector<std::int32_t> storage{1, 4, 2, 5, 3, 6};
    auto view = MultiArray::view(storage.data(), {2, 3}, MultiArrayDataType::int32, {1, 2});
    EXPECT_EQ(view.toIntArray(), (std::vector<int>{1, 2, 3, 4, 5, 6}));
    storage[0] = 10;
    EXPECT_EQ(view.toIntArray()[0], 10);

    auto copy = view.contiguousCopy();
    EXPECT_EQ(copy.strides(), (Index{3, 1}));
    EXPECT_EQ(copy.toFloatArray(), (std::vector<float>{10, 2, 3, 4, 5, 6}));
}

TEST(MultiArrayTest, FloatsBecomeIntegersTowardZero) {
    std::vector<float> values{2.9f, -2.9f, 1e20f};
    auto view = MultiArray::view(values.data(), {3}, MultiArrayDataType::float32);
    EXPECT_EQ(view.toIntArray(), (std::vector<int>{2, -2, std::numeric_limits<int>::max()}));
}

TEST(ComputeUnitsTest, NamesByRawValue) {
    struct Case {
        int raw;
        const char* description;
        const char* displayName;
    };
    const Case cases[] = {{0, "cpuOnly", "CPU"},
                          {1, "cpuAndGPU", "GPU"},
                          {2, "all", "All"},
                          {3, "cpuAndNeuralEngine", "Neural Engine"},
                          {7, "unknown", "Unknown"}};
    for (const auto& c : cases) {
        EXPECT_STREQ(description(static_cast<ComputeUnits>(c.raw)), c.description);
        EXPECT_STREQ(displayName(static_cast<ComputeUnits>(c.raw)), c.displayName);
    }
}

} // namespace
} // namespace basalith
