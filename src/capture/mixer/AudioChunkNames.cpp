#include "capture/mixer/AudioChunkNames.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <system_error>

namespace velnote {
namespace fs = std::filesystem;

bool AudioChunkNames::isWav(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".wav";
}

std::string AudioChunkNames::chunkFileName(std::string_view prefix, std::int64_t number) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%04lld", static_cast<long long>(number));
    return std::string(prefix) + digits + ".wav";
}

std::optional<std::int64_t> AudioChunkNames::chunkNumber(const fs::path& chunk, std::string_view prefix) {
    const std::string name = chunk.filename().string();
    const auto dot = name.rfind('.');
    if (!name.starts_with(prefix) || dot == std::string::npos || dot <= prefix.size())
        return std::nullopt;
    const char* first = name.data() + prefix.size();
    const char* last = name.data() + dot;
    if (*first == '+' && last - first > 1 && first[1] != '-')
        ++first; // a leading sign is part of a decimal integer's text
    std::int64_t number = 0;
    const auto [end, error] = std::from_chars(first, last, number);
    if (error != std::errc() || end != last || first == last)
        return std::nullopt;
    return number;
}

std::vector<fs::path> AudioChunkNames::chunkFiles(const std::vector<fs::path>& files,
                                                  std::string_view prefix) {
    std::vector<fs::path> chunks;
    for (const auto& file : files) {
        if (file.filename().string().starts_with(prefix) && isWav(file))
            chunks.push_back(file);
    }
    std::stable_sort(chunks.begin(), chunks.end(), [](const auto& a, const auto& b) {
        return a.filename().string() < b.filename().string();
    });
    return chunks;
}

} // namespace velnote
