#pragma once

#include "engine/foundation/HubClient.h"
#include "engine/foundation/HubError.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace basalith::testing {

// `n` bytes that differ from a neighbouring range, so a misplaced byte shows.
inline std::string patterned(std::size_t n, char seed) {
    std::string text(n, ' ');
    for (std::size_t i = 0; i < n; ++i)
        text[i] = static_cast<char>(seed + i % 23);
    return text;
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void writeFile(const std::filesystem::path& path, const std::string& content) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

// The hub client's ".incomplete" and lock files below `root`, relative to it, sorted.
inline std::vector<std::string> bookkeepingFiles(const std::filesystem::path& root) {
    std::vector<std::string> found;
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(root, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (isCacheBookkeeping(it->path().filename().string()))
            found.push_back(it->path().lexically_relative(root).generic_string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

// The kind of HubError `step` throws; absent when it throws nothing.
inline std::optional<HubError::Kind> hubFailure(const std::function<void()>& step) {
    try {
        step();
    } catch (const HubError& error) {
        return error.kind();
    }
    return std::nullopt;
}

} // namespace basalith::testing
