#include "engine/speech/tokenizer/TokenizerFiles.h"

#include "engine/speech/tokenizer/TokenizerError.h"
#include "platform/fs/Files.h"

#include <system_error>

namespace vocalith {

namespace fs = std::filesystem;

namespace {

using Code = TokenizerError::Code;

// The deepest nesting of arrays and objects, counted without parsing, so that a file nested
// thousands of levels deep is refused before any parser recurses into it.
void checkShape(std::string_view text, std::string_view name) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\0')
            throw TokenizerError(Code::malformedFile, std::string(name) + " holds a NUL byte");
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > TokenizerFiles::kMaxDepth)
                throw TokenizerError(Code::malformedFile, std::string(name) + " is nested more than " +
                                                              std::to_string(TokenizerFiles::kMaxDepth) +
                                                              " levels deep");
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
}

std::optional<std::string> readLimited(const fs::path& path) {
    std::error_code error;
    const auto status = fs::status(path, error);
    if (error || status.type() == fs::file_type::not_found)
        return std::nullopt;
    const std::string name = path.filename().string();
    if (status.type() != fs::file_type::regular)
        throw TokenizerError(Code::unreadableFile, name + " is not a regular file");
    const auto size = fs::file_size(path, error);
    if (error || size > TokenizerFiles::kMaxFileBytes)
        throw TokenizerError(Code::unreadableFile, name + " is larger than " +
                                                       std::to_string(TokenizerFiles::kMaxFileBytes) +
                                                       " bytes");
    std::string text;
    try {
        text = velnote::platform::readFile(path);
    } catch (const std::system_error& e) {
        throw TokenizerError(Code::unreadableFile, name + " cannot be read: " + e.what());
    }
    // It may have grown since it was measured.
    if (text.size() > TokenizerFiles::kMaxFileBytes)
        throw TokenizerError(Code::unreadableFile, name + " is larger than " +
                                                       std::to_string(TokenizerFiles::kMaxFileBytes) +
                                                       " bytes");
    return text;
}

} // namespace

Json TokenizerFiles::parse(std::string_view text, std::string_view name) {
    checkShape(text, name);
    try {
        return velnote::platform::parseJson(text);
    } catch (const JsonDecodeError& error) {
        throw TokenizerError(Code::malformedFile, std::string(name) + ": " + error.problem());
    }
}

std::optional<Json> TokenizerFiles::readConfig(const fs::path& folder) {
    const auto text = readLimited(folder / kConfigFile);
    if (!text)
        return std::nullopt;
    return parse(*text, kConfigFile);
}

Json TokenizerFiles::readData(const fs::path& folder) {
    const auto text = readLimited(folder / kDataFile);
    if (!text)
        throw TokenizerError(Code::missingFile, (folder / kDataFile).string() + " does not exist");
    return parse(*text, kDataFile);
}

} // namespace vocalith
