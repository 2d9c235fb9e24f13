#include "platform/ml/convert/PackagedModelFile.h"

#include "platform/ml/convert/ConversionError.h"

#include <cstring>

namespace velnote::platform::ml {

namespace {

constexpr std::uint32_t kKnownVersion = 6;
constexpr std::uint8_t kMaxRank = 8;

// Reads the file front to back; every read checks that the bytes are there.
class Cursor {
  public:
    Cursor(const std::filesystem::path& path, std::span<const std::byte> bytes)
        : path_(path), bytes_(bytes) {}

    template <class T> T number() {
        T value;
        std::memcpy(&value, take(sizeof(T)).data(), sizeof(T));
        return value;
    }

    std::string text() {
        const auto length = number<std::uint16_t>();
        const auto raw = take(length);
        if (length == 0 || raw.back() != std::byte{0})
            fail("a name is not NUL-terminated");
        std::string value(reinterpret_cast<const char*>(raw.data()), length - 1);
        if (value.empty() || value.find('\0') != std::string::npos)
            fail("a name is empty or holds a NUL byte");
        return value;
    }

    std::span<const std::byte> take(std::size_t count) {
        if (count > bytes_.size() - offset_)
            fail("truncated at byte " + std::to_string(offset_) + " (" + std::to_string(count) +
                 " more needed)");
        const auto part = bytes_.subspan(offset_, count);
        offset_ += count;
        return part;
    }

    bool atEnd() const { return offset_ == bytes_.size(); }

    [[noreturn]] void fail(const std::string& problem) const {
        throw ConversionError(ConversionError::Code::malformedFile, path_.string() + ": " + problem);
    }

  private:
    const std::filesystem::path& path_;
    std::span<const std::byte> bytes_;
    std::size_t offset_ = 0;
};

ElementType elementTypeOf(Cursor& cursor, std::uint8_t code, const std::string& name) {
    switch (code) {
    case 0:
        return ElementType::float32;
    case 1:
        return ElementType::int8;
    case 2:
        return ElementType::int16;
    case 3:
        return ElementType::int32;
    case 4:
        return ElementType::float16;
    case 5:
        return ElementType::bfloat16;
    default:
        cursor.fail("variable " + name + " has unknown element type " + std::to_string(code));
    }
}

SourceTensor readVariable(Cursor& cursor, const std::string& name) {
    SourceTensor tensor;
    const auto rank = cursor.number<std::uint8_t>();
    if (rank > kMaxRank)
        cursor.fail("variable " + name + " has " + std::to_string(rank) + " dimensions");
    for (std::uint8_t i = 0; i < rank; ++i)
        tensor.shape.push_back(cursor.number<std::uint32_t>());
    tensor.type = elementTypeOf(cursor, cursor.number<std::uint8_t>(), name);
    const auto byteCount = cursor.number<std::uint32_t>();
    const auto count = checkedElementCount(tensor.shape, elementSize(tensor.type));
    if (!count || static_cast<std::uint64_t>(*count) * elementSize(tensor.type) != byteCount)
        cursor.fail("variable " + name + " of shape " + shapeText(tensor.shape) + " does not fill its " +
                    std::to_string(byteCount) + " bytes");
    tensor.bytes = cursor.take(byteCount);
    return tensor;
}

} // namespace

PackagedModelFile::PackagedModelFile(const std::filesystem::path& path) : file_(path) {
    Cursor cursor(path, file_.bytes());
    const auto version = cursor.number<std::uint32_t>();
    if (version != kKnownVersion)
        throw ConversionError(ConversionError::Code::unsupported,
                              path.string() + ": weight file version " + std::to_string(version) +
                                  " is not supported (only " + std::to_string(kKnownVersion) + ")");
    formatName_ = cursor.text();
    cursor.number<std::uint32_t>(); // the format's revision: the tensors below say all we use
    const auto variableCount = cursor.number<std::uint32_t>();
    for (std::uint32_t i = 0; i < variableCount; ++i) {
        auto name = cursor.text();
        auto tensor = readVariable(cursor, name);
        if (!variables_.emplace(std::move(name), std::move(tensor)).second)
            cursor.fail("a variable name appears twice");
    }
    const auto aliasCount = cursor.number<std::uint32_t>();
    for (std::uint32_t i = 0; i < aliasCount; ++i) {
        auto alias = cursor.text();
        const auto target = variables_.find(cursor.text());
        if (target == variables_.end())
            cursor.fail("alias " + alias + " names no variable");
        SourceTensor copy = target->second;
        if (!variables_.emplace(std::move(alias), std::move(copy)).second)
            cursor.fail("an alias repeats a variable name");
    }
    if (!cursor.atEnd())
        cursor.fail("unexpected bytes after the last alias");
}

} // namespace velnote::platform::ml
