#pragma once

#include "engine/speech/JsonCoding.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string_view>

namespace vocalith {

// The two files of a tokenizer folder, read with the guards a downloaded file needs: a size
// limit, a nesting limit, no NUL bytes and no numbers beyond a double. Every refusal is a
// TokenizerError naming the file.
struct TokenizerFiles {
    static constexpr const char* kDataFile = "tokenizer.json";
    static constexpr const char* kConfigFile = "tokenizer_config.json";
    // The largest published tokenizer files are a few MB.
    static constexpr std::size_t kMaxFileBytes = 64u << 20;
    // Tokenizer files nest five or six levels deep.
    static constexpr int kMaxDepth = 32;

    // The parsed configuration; none when the folder has no such file.
    static std::optional<Json> readConfig(const std::filesystem::path& folder);
    // The parsed tokenizer data. A missing file is TokenizerError::Code::missingFile.
    static Json readData(const std::filesystem::path& folder);
    // `text` parsed under the guards above; `name` goes into the messages.
    static Json parse(std::string_view text, std::string_view name);
};

} // namespace vocalith
