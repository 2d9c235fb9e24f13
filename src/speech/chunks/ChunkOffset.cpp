#include "speech/chunks/ChunkOffset.h"

#include "session/VelnoteLogger.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velnote {
namespace {

// The base-10 integer `text` spells (an optional sign, then digits only, within 64 bits).
std::optional<std::int64_t> parseChunkNumber(std::string_view text) {
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty() || text.front() == '+')
        return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<std::int64_t> numberInName(const std::string& name) {
    const auto underscore = name.rfind('_');
    const auto dot = name.rfind('.');
    if (underscore == std::string::npos || dot == std::string::npos || underscore > dot)
        return std::nullopt;
    return parseChunkNumber(std::string_view(name).substr(underscore + 1, dot - underscore - 1));
}

} // namespace

float chunkStartOffset(const std::filesystem::path& chunk, std::size_t fallbackIndex) {
    const std::string name = chunk.filename().string();
    const auto number = numberInName(name);
    if (!number)
        return static_cast<float>(fallbackIndex) * 10.0f;
    if (static_cast<double>(*number) * 10.0 > kMaxChunkStartSeconds ||
        static_cast<double>(*number) * 10.0 < -kMaxChunkStartSeconds) {
        VelnoteLogger::transcribe().error(
            "chunk {} would start beyond 12 hours; placed at its list position {}", name, fallbackIndex);
        return static_cast<float>(fallbackIndex) * 10.0f;
    }
    return static_cast<float>(*number) * 10.0f;
}

} // namespace velnote
