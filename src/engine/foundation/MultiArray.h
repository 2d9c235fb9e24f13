#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace basalith {

// IEEE 754 half precision. GCC and Clang provide it on x86-64 and AArch64 ahead of C++23's
// std::float16_t.
using Float16 = _Float16;

// Element types, with the raw values model descriptions use for them.
enum class MultiArrayDataType : std::uint32_t { float16 = 0x10010, float32 = 0x10020, int32 = 0x20020 };

std::size_t elementSize(MultiArrayDataType type);

class MultiArrayCreationError : public std::runtime_error {
  public:
    enum class Code { pixelBufferFailed };

    static MultiArrayCreationError pixelBufferFailed() {
        return MultiArrayCreationError(Code::pixelBufferFailed,
                                       "Failed to create pixel buffer for MultiArray");
    }
    Code code() const { return code_; }

  private:
    MultiArrayCreationError(Code code, const std::string& message)
        : std::runtime_error(message), code_(code) {}
    Code code_;
};

// Half-float arrays are laid out as a two-dimensional buffer: width = the last dimension, height =
// the product of the others (1 when there are none).
struct PixelBufferSize {
    std::int64_t width = 0;
    std::int64_t height = 0;
    friend bool operator==(const PixelBufferSize&, const PixelBufferSize&) = default;
};

// A typed n-dimensional array: shape, strides (in elements) and a buffer of float16, float32 or
// int32 values. Copies share the buffer, as model inputs and outputs are shared between the steps
// of one run. Not synchronised: one caller fills an array at a time.
class MultiArray {
  public:
    using Index = std::vector<std::int64_t>;

    // A new zero-filled array with contiguous (row-major) strides. Throws std::invalid_argument for
    // an empty shape or a negative dimension, and MultiArrayCreationError for a half-float array
    // whose buffer cannot be laid out (see pixelBuffer).
    MultiArray(Index shape, MultiArrayDataType type);

    // A new array whose every element is `initialValue` when its C++ type is the element type
    // (Float16, float, std::int32_t); any other type leaves the array as created (zeros).
    template <class T> static MultiArray create(Index shape, MultiArrayDataType type, const T& initialValue);

    // An array over memory it does not own (no copy). `owner`, when given, is kept alive as long as
    // any copy of the view; otherwise the caller keeps `data` valid. `strides` in elements; empty =
    // contiguous.
    static MultiArray view(void* data, Index shape, MultiArrayDataType type, Index strides = {},
                           std::shared_ptr<void> owner = nullptr);

    // An int32 array of shape [1, ..., 1, values.size()] with `dims` dimensions, holding `values`.
    // Throws std::invalid_argument when dims < 1 and std::out_of_range for a value beyond 32 bits.
    static MultiArray from(const std::vector<std::int64_t>& values, int dims);

    // The half-float buffer layout for `shape`; none for an empty shape or one with a dimension
    // not above 0.
    static std::optional<PixelBufferSize> pixelBuffer(const Index& shape);

    const Index& shape() const { return shape_; }
    const Index& strides() const { return strides_; }
    MultiArrayDataType dataType() const { return type_; }
    std::int64_t count() const;

    void* data() { return data_; }
    const void* data() const { return data_; }
    // Throws std::logic_error when T is not the element type.
    template <class T> T* dataAs() {
        checkType<T>();
        return static_cast<T*>(data_);
    }
    template <class T> const T* dataAs() const {
        checkType<T>();
        return static_cast<const T*>(data_);
    }

    // Σ index[k] × strides[k] over the positions both lists have; the array's own strides when
    // `strides` is absent.
    std::int64_t linearOffset(const Index& index, const std::optional<Index>& strides = std::nullopt) const;

    // For a half-float array of shape [1, 1, n]: sets positions [begin, end) of the last dimension
    // to `value`. Throws std::invalid_argument for another shape or type, or a range outside 0...n.
    void fillLastDimension(std::int64_t begin, std::int64_t end, Float16 value);

    // Sets the element at each index to `value`, whose type must be the element type
    // (std::logic_error otherwise). Throws std::out_of_range for an index outside the array.
    template <class T> void fill(const std::vector<Index>& indexes, T value) {
        T* elements = dataAs<T>();
        for (const auto& index : indexes)
            elements[checkedOffset(index)] = value;
    }

    // The values in row-major order of the shape, whatever the strides. Floats are truncated
    // toward zero into integers; half floats and integers are widened into floats.
    std::vector<int> toIntArray() const;
    std::vector<float> toFloatArray() const;
    // A new contiguous array of the same shape, type and values.
    MultiArray contiguousCopy() const;
    // Row-major and dense (axes of length 1 may have any stride), so the data can be read as is.
    bool isContiguous() const;

  private:
    MultiArray() = default;

    template <class T> static constexpr std::optional<MultiArrayDataType> typeOf() {
        if constexpr (std::is_same_v<T, Float16>)
            return MultiArrayDataType::float16;
        if constexpr (std::is_same_v<T, float>)
            return MultiArrayDataType::float32;
        if constexpr (std::is_same_v<T, std::int32_t>)
            return MultiArrayDataType::int32;
        return std::nullopt;
    }
    template <class T> void checkType() const {
        if (typeOf<T>() != type_)
            throw std::logic_error("MultiArray: element type mismatch");
    }
    std::int64_t checkedOffset(const Index& index) const;
    double valueAt(std::int64_t offset) const;
    template <class F> void forEachOffset(F&& visit) const;

    Index shape_;
    Index strides_;
    MultiArrayDataType type_ = MultiArrayDataType::float32;
    std::shared_ptr<void> storage_; // keeps the buffer (or a view's owner) alive
    void* data_ = nullptr;
};

template <class T>
MultiArray MultiArray::create(Index shape, MultiArrayDataType type, const T& initialValue) {
    MultiArray array(std::move(shape), type);
    if (typeOf<T>() == type) {
        T* elements = array.dataAs<T>();
        for (std::int64_t i = 0, n = array.count(); i < n; ++i)
            elements[i] = initialValue;
    }
    return array;
}

} // namespace basalith
