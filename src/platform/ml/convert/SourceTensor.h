#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velnote::platform::ml {

// Element types a checkpoint may store its tensors in.
enum class ElementType { float32, float16, bfloat16, int8, int16, int32 };

std::size_t elementSize(ElementType type);
std::string_view elementTypeName(ElementType type);

// One tensor as a checkpoint file holds it: its element type, its shape outermost first and
// its raw little-endian bytes, which point into the file's mapping or into `owned`.
struct SourceTensor {
    ElementType type = ElementType::float32;
    std::vector<std::int64_t> shape;
    std::span<const std::byte> bytes;
    // Set when the tensor was cut out of a larger one (a fused projection): the bytes it points
    // into, shared so that copies of the tensor stay valid.
    std::shared_ptr<const std::vector<std::byte>> owned;

    std::int64_t elementCount() const;
    // The values widened to float. Integers convert exactly where they fit.
    std::vector<float> toFloat() const;
    // Rows [first, first + count) of the outermost dimension, as a tensor that owns its bytes.
    SourceTensor rows(std::int64_t first, std::int64_t count) const;
    // A scalar integer attribute (a head count and the like), when the tensor holds one integer.
    std::optional<std::int64_t> integerScalar() const;
};

// The number of elements of `shape`, or nothing when a dimension is negative or the product
// (times `elementBytes`) does not fit in 63 bits.
std::optional<std::int64_t> checkedElementCount(std::span<const std::int64_t> shape,
                                                std::size_t elementBytes = 1);

std::string shapeText(std::span<const std::int64_t> shape);

} // namespace velnote::platform::ml
