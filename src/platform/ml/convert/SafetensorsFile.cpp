#include "platform/ml/convert/SafetensorsFile.h"

#include "platform/json/Json.h"
#include "platform/ml/convert/ConversionError.h"

#include <cstring>
#include <optional>

namespace velnote::platform::ml {

namespace {

// A real header is a flat object of small records; a few megabytes covers thousands of tensors.
constexpr std::uint64_t kMaxHeaderBytes = 100u << 20;
constexpr std::size_t kMaxJsonDepth = 8;
constexpr std::size_t kMaxRank = 8;

[[noreturn]] void malformed(const std::filesystem::path& path, const std::string& problem) {
    throw ConversionError(ConversionError::Code::malformedFile, path.string() + ": " + problem);
}

std::optional<ElementType> elementTypeNamed(const std::string& name) {
    if (name == "F32")
        return ElementType::float32;
    if (name == "F16")
        return ElementType::float16;
    if (name == "BF16")
        return ElementType::bfloat16;
    if (name == "I8")
        return ElementType::int8;
    if (name == "I16")
        return ElementType::int16;
    if (name == "I32")
        return ElementType::int32;
    return std::nullopt;
}

SourceTensor readEntry(const std::filesystem::path& path, const std::string& name, const Json& entry,
                       std::span<const std::byte> data) {
    const auto typeName = required<std::string>(entry, "dtype");
    const auto type = elementTypeNamed(typeName);
    if (!type)
        throw ConversionError(ConversionError::Code::unsupported,
                              path.string() + ": tensor " + name + " has unsupported type " + typeName);
    SourceTensor tensor;
    tensor.type = *type;
    tensor.shape = required<std::vector<std::int64_t>>(entry, "shape");
    if (tensor.shape.size() > kMaxRank)
        malformed(path, "tensor " + name + " has more than " + std::to_string(kMaxRank) + " dimensions");
    const auto offsets = required<std::vector<std::uint64_t>>(entry, "data_offsets");
    if (offsets.size() != 2 || offsets[0] > offsets[1] || offsets[1] > data.size())
        malformed(path, "tensor " + name + " has data offsets outside the file");
    const auto count = checkedElementCount(tensor.shape, elementSize(tensor.type));
    if (!count || static_cast<std::uint64_t>(*count) * elementSize(tensor.type) != offsets[1] - offsets[0])
        malformed(path, "tensor " + name + " of shape " + shapeText(tensor.shape) + " does not fill its " +
                            std::to_string(offsets[1] - offsets[0]) + " bytes");
    tensor.bytes = data.subspan(offsets[0], offsets[1] - offsets[0]);
    return tensor;
}

} // namespace

SafetensorsFile::SafetensorsFile(const std::filesystem::path& path) : file_(path) {
    const auto bytes = file_.bytes();
    std::uint64_t headerLength = 0;
    if (bytes.size() < sizeof headerLength)
        malformed(path, "too short for a safetensors header");
    std::memcpy(&headerLength, bytes.data(), sizeof headerLength);
    if (headerLength > kMaxHeaderBytes || headerLength > bytes.size() - sizeof headerLength)
        malformed(path,
                  "header length " + std::to_string(headerLength) + " reaches past the end of the file");

    const auto headerBytes = bytes.subspan(sizeof headerLength, headerLength);
    const std::string_view headerText(reinterpret_cast<const char*>(headerBytes.data()), headerBytes.size());
    const auto data = bytes.subspan(sizeof headerLength + headerLength);
    try {
        const Json header = parseJson(headerText, kMaxJsonDepth);
        if (!header.is_object())
            malformed(path, "header is not a JSON object");
        for (const auto& [name, entry] : header.items()) {
            if (name == "__metadata__")
                continue;
            if (name.empty() || name.find('\0') != std::string::npos)
                malformed(path, "a tensor name is empty or holds a NUL byte");
            if (!entry.is_object())
                malformed(path, "tensor " + name + " is not described by an object");
            tensors_.emplace(name, readEntry(path, name, entry, data));
        }
    } catch (const JsonDecodeError& e) {
        malformed(path, std::string("bad header: ") + e.what());
    }
}

} // namespace velnote::platform::ml
