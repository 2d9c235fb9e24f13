#include "platform/ml/convert/SourceTensor.h"

#include "platform/ml/convert/ConversionError.h"

#include <bit>
#include <cstring>
#include <limits>

namespace velnote::platform::ml {

namespace {

template <class T> T load(const std::byte* at) {
    T value;
    std::memcpy(&value, at, sizeof(T));
    return value;
}

float bfloat16ToFloat(std::uint16_t bits) {
    return std::bit_cast<float>(std::uint32_t{bits} << 16);
}

} // namespace

std::size_t elementSize(ElementType type) {
    switch (type) {
    case ElementType::float32:
    case ElementType::int32:
        return 4;
    case ElementType::float16:
    case ElementType::bfloat16:
    case ElementType::int16:
        return 2;
    case ElementType::int8:
        return 1;
    }
    return 1;
}

std::string_view elementTypeName(ElementType type) {
    switch (type) {
    case ElementType::float32:
        return "float32";
    case ElementType::float16:
        return "float16";
    case ElementType::bfloat16:
        return "bfloat16";
    case ElementType::int8:
        return "int8";
    case ElementType::int16:
        return "int16";
    case ElementType::int32:
        return "int32";
    }
    return "unknown";
}

std::optional<std::int64_t> checkedElementCount(std::span<const std::int64_t> shape,
                                                std::size_t elementBytes) {
    constexpr auto limit = std::numeric_limits<std::int64_t>::max();
    std::int64_t count = 1;
    for (const std::int64_t dimension : shape) {
        if (dimension < 0)
            return std::nullopt;
        if (dimension != 0 && count > limit / dimension)
            return std::nullopt;
        count *= dimension;
    }
    if (elementBytes > 1 && count > limit / static_cast<std::int64_t>(elementBytes))
        return std::nullopt;
    return count;
}

std::string shapeText(std::span<const std::int64_t> shape) {
    std::string text = "[";
    for (std::size_t i = 0; i < shape.size(); ++i)
        text += (i == 0 ? "" : ", ") + std::to_string(shape[i]);
    return text + "]";
}

std::int64_t SourceTensor::elementCount() const {
    return checkedElementCount(shape).value_or(0);
}

std::vector<float> SourceTensor::toFloat() const {
    const auto count = static_cast<std::size_t>(elementCount());
    if (count * elementSize(type) != bytes.size())
        throw ConversionError(ConversionError::Code::malformedFile, "tensor bytes do not match its shape");
    std::vector<float> values(count);
    const std::byte* at = bytes.data();
    for (std::size_t i = 0; i < count; ++i, at += elementSize(type)) {
        switch (type) {
        case ElementType::float32:
            values[i] = load<float>(at);
            break;
        case ElementType::float16:
            values[i] = static_cast<float>(load<_Float16>(at));
            break;
        case ElementType::bfloat16:
            values[i] = bfloat16ToFloat(load<std::uint16_t>(at));
            break;
        case ElementType::int8:
            values[i] = load<std::int8_t>(at);
            break;
        case ElementType::int16:
            values[i] = load<std::int16_t>(at);
            break;
        case ElementType::int32:
            values[i] = static_cast<float>(load<std::int32_t>(at));
            break;
        }
    }
    return values;
}

SourceTensor SourceTensor::rows(std::int64_t first, std::int64_t count) const {
    if (shape.empty() || first < 0 || count < 0 || first > shape[0] || count > shape[0] - first)
        throw ConversionError(ConversionError::Code::incompleteWeights,
                              "cannot take rows of a tensor of shape " + shapeText(shape));
    SourceTensor part;
    part.type = type;
    part.shape = shape;
    part.shape[0] = count;
    const auto rowBytes = static_cast<std::size_t>(shape[0] == 0 ? 0 : bytes.size() / shape[0]);
    const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(first * rowBytes);
    auto copy = std::make_shared<std::vector<std::byte>>(
        begin, begin + static_cast<std::ptrdiff_t>(count * rowBytes));
    part.bytes = *copy;
    part.owned = std::move(copy);
    return part;
}

std::optional<std::int64_t> SourceTensor::integerScalar() const {
    if (elementCount() != 1 || bytes.size() != elementSize(type))
        return std::nullopt;
    switch (type) {
    case ElementType::int8:
        return load<std::int8_t>(bytes.data());
    case ElementType::int16:
        return load<std::int16_t>(bytes.data());
    case ElementType::int32:
        return load<std::int32_t>(bytes.data());
    default:
        return std::nullopt;
    }
}

} // namespace velnote::platform::ml
