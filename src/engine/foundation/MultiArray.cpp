#include "engine/foundation/MultiArray.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace basalith {
namespace {

MultiArray::Index contiguousStrides(const MultiArray::Index& shape) {
    MultiArray::Index strides(shape.size(), 1);
    for (std::size_t k = shape.size(); k-- > 1;)
        strides[k - 1] = strides[k] * shape[k];
    return strides;
}

std::int64_t product(const MultiArray::Index& shape) {
    std::int64_t n = 1;
    for (auto d : shape)
        n *= d;
    return n;
}

// Zeroed memory aligned for vector loads.
std::shared_ptr<void> allocateZeroed(std::size_t bytes) {
    constexpr std::size_t alignment = 64;
    const std::size_t rounded = (bytes + alignment - 1) / alignment * alignment;
    void* memory = std::aligned_alloc(alignment, rounded == 0 ? alignment : rounded);
    if (memory == nullptr)
        throw std::bad_alloc();
    std::memset(memory, 0, rounded);
    return std::shared_ptr<void>(memory, std::free);
}

// Toward zero, clamped to the int range (NaN gives 0), so no value makes the conversion undefined.
int truncatedToInt(double value) {
    if (!(value == value))
        return 0;
    if (value <= std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    if (value >= std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    return static_cast<int>(value);
}

} // namespace

std::size_t elementSize(MultiArrayDataType type) {
    return type == MultiArrayDataType::float16 ? 2 : 4;
}

std::optional<PixelBufferSize> MultiArray::pixelBuffer(const Index& shape) {
    if (shape.empty())
        return std::nullopt;
    for (auto d : shape) {
        if (d <= 0)
            return std::nullopt;
    }
    return PixelBufferSize{shape.back(), product(shape) / shape.back()};
}

MultiArray::MultiArray(Index shape, MultiArrayDataType type) : type_(type) {
    if (type == MultiArrayDataType::float16) {
        if (!pixelBuffer(shape))
            throw MultiArrayCreationError::pixelBufferFailed();
    } else {
        if (shape.empty())
            throw std::invalid_argument("MultiArray: empty shape");
        for (auto d : shape) {
            if (d < 0)
                throw std::invalid_argument("MultiArray: negative dimension");
        }
    }
    shape_ = std::move(shape);
    strides_ = contiguousStrides(shape_);
    storage_ = allocateZeroed(static_cast<std::size_t>(product(shape_)) * elementSize(type));
    data_ = storage_.get();
}

MultiArray MultiArray::view(void* data, Index shape, MultiArrayDataType type, Index strides,
                            std::shared_ptr<void> owner) {
    if (strides.empty())
        strides = contiguousStrides(shape);
    if (strides.size() != shape.size())
        throw std::invalid_argument("MultiArray: strides do not match shape");
    MultiArray array;
    array.shape_ = std::move(shape);
    array.strides_ = std::move(strides);
    array.type_ = type;
    array.storage_ = std::move(owner);
    array.data_ = data;
    return array;
}

MultiArray MultiArray::from(const std::vector<std::int64_t>& values, int dims) {
    if (dims < 1)
        throw std::invalid_argument("MultiArray::from: dims must be at least 1");
    Index shape(static_cast<std::size_t>(dims), 1);
    shape.back() = static_cast<std::int64_t>(values.size());
    MultiArray array(std::move(shape), MultiArrayDataType::int32);
    auto* elements = array.dataAs<std::int32_t>();
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (values[i] < std::numeric_limits<std::int32_t>::min() ||
            values[i] > std::numeric_limits<std::int32_t>::max()) {
            throw std::out_of_range("MultiArray::from: value beyond 32 bits");
        }
        elements[i] = static_cast<std::int32_t>(values[i]);
    }
    return array;
}

std::int64_t MultiArray::count() const {
    return product(shape_);
}

std::int64_t MultiArray::linearOffset(const Index& index, const std::optional<Index>& strides) const {
    const Index& s = strides ? *strides : strides_;
    std::int64_t offset = 0;
    for (std::size_t k = 0; k < index.size() && k < s.size(); ++k)
        offset += index[k] * s[k];
    return offset;
}

std::int64_t MultiArray::checkedOffset(const Index& index) const {
    if (index.size() != shape_.size())
        throw std::out_of_range("MultiArray: index rank differs from shape");
    for (std::size_t k = 0; k < index.size(); ++k) {
        if (index[k] < 0 || index[k] >= shape_[k])
            throw std::out_of_range("MultiArray: index outside array");
    }
    return linearOffset(index);
}

void MultiArray::fillLastDimension(std::int64_t begin, std::int64_t end, Float16 value) {
    if (shape_.size() != 3 || shape_[0] != 1 || shape_[1] != 1) {
        throw std::invalid_argument("fillLastDimension needs shape [1, 1, n]");
    }
    if (begin < 0 || end < begin || end > shape_[2]) {
        throw std::invalid_argument("fillLastDimension: range outside the last dimension");
    }
    if (type_ != MultiArrayDataType::float16)
        throw std::invalid_argument("fillLastDimension needs float16");
    Float16* elements = dataAs<Float16>();
    for (std::int64_t i = begin; i < end; ++i)
        elements[i * strides_[2]] = value;
}

double MultiArray::valueAt(std::int64_t offset) const {
    switch (type_) {
    case MultiArrayDataType::float16:
        return static_cast<double>(static_cast<const Float16*>(data_)[offset]);
    case MultiArrayDataType::float32:
        return static_cast<const float*>(data_)[offset];
    case MultiArrayDataType::int32:
        return static_cast<const std::int32_t*>(data_)[offset];
    }
    return 0;
}

template <class F> void MultiArray::forEachOffset(F&& visit) const {
    if (count() == 0)
        return;
    Index index(shape_.size(), 0);
    for (;;) {
        visit(linearOffset(index));
        std::size_t k = index.size();
        while (k > 0 && ++index[k - 1] == shape_[k - 1])
            index[--k] = 0;
        if (k == 0)
            return;
    }
}

std::vector<int> MultiArray::toIntArray() const {
    std::vector<int> values;
    values.reserve(static_cast<std::size_t>(count()));
    if (type_ == MultiArrayDataType::int32) {
        const auto* elements = static_cast<const std::int32_t*>(data_);
        forEachOffset([&](std::int64_t offset) { values.push_back(elements[offset]); });
    } else {
        forEachOffset([&](std::int64_t offset) { values.push_back(truncatedToInt(valueAt(offset))); });
    }
    return values;
}

std::vector<float> MultiArray::toFloatArray() const {
    std::vector<float> values;
    values.reserve(static_cast<std::size_t>(count()));
    forEachOffset([&](std::int64_t offset) { values.push_back(static_cast<float>(valueAt(offset))); });
    return values;
}

bool MultiArray::isContiguous() const {
    std::int64_t expected = 1;
    for (std::size_t i = shape_.size(); i-- > 0;) {
        if (shape_[i] != 1 && strides_[i] != expected)
            return false;
        expected *= shape_[i];
    }
    return true;
}

MultiArray MultiArray::contiguousCopy() const {
    MultiArray copy(shape_, type_);
    const std::size_t size = elementSize(type_);
    auto* target = static_cast<std::byte*>(copy.data_);
    const auto* source = static_cast<const std::byte*>(data_);
    forEachOffset([&](std::int64_t offset) {
        std::memcpy(target, source + offset * static_cast<std::int64_t>(size), size);
        target += size;
    });
    return copy;
}

} // namespace basalith
