#include "summary/text/ScreenshotEmbedding.h"

#include "platform/fs/FileUrl.h"
#include "platform/fs/Files.h"
#include "platform/image/Jpeg.h"
#include "platform/text/Base64.h"
#include "platform/text/Characters.h"
#include "platform/text/Split.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"
#include "summary/core/TextPattern.h"

#include <algorithm>
#include <cmath>

namespace velnote::SummaryFormatter {

namespace {

namespace fs = std::filesystem;

const TextPattern& placeholderPattern() {
    static const TextPattern pattern("!\\[([^\\]]*)\\]\\(PLACEHOLDER:([^)\\s]+)\\)");
    return pattern;
}

bool isInside(const fs::path& file, const fs::path& folder) {
    std::error_code error;
    const fs::path base = fs::weakly_canonical(folder, error);
    if (error)
        return false;
    const fs::path resolved = fs::weakly_canonical(file, error);
    if (error)
        return false;
    const auto [baseEnd, fileAt] = std::mismatch(base.begin(), base.end(), resolved.begin(), resolved.end());
    return baseEnd == base.end() && fileAt != resolved.end();
}

// The screenshot a placeholder names, when it is a file of the folder: the
// name comes from model output, so anything that could reach elsewhere
// ("../", a path, a link out of the folder) counts as missing.
std::optional<fs::path> screenshotFile(const fs::path& folder, std::string_view name) {
    if (name.find('/') != std::string_view::npos || name.find("..") != std::string_view::npos ||
        name.find('\0') != std::string_view::npos)
        return std::nullopt;
    const fs::path file = folder / std::string(name);
    std::error_code error;
    if (!fs::is_regular_file(file, error) || !isInside(file, folder))
        return std::nullopt;
    return file;
}

std::string groupText(const platform::RegexMatch& match, std::size_t group) {
    return match.groups.size() > group && match.groups[group] ? match.groups[group]->text : std::string();
}

int jpegQuality(std::int64_t maxKB, int width, int height) {
    const double budget =
        static_cast<double>(maxKB) * 1024.0 / std::max(static_cast<double>(width) * height, 1.0);
    const double quality = std::min(budget, 0.82);
    return static_cast<int>(std::clamp(std::lround(quality * 100.0), 1L, 100L));
}

} // namespace

std::string replacePlaceholders(std::string_view markdown, const fs::path& screencapturesDir,
                                bool embedImages, std::int64_t maxCount, std::int64_t maxKB,
                                std::int64_t maxWidth) {
    const TextPattern& pattern = placeholderPattern();
    if (!pattern.compiled()) {
        VelnoteLogger::processing().error("failed to compile regex for placeholder replacement: {}",
                                          "pattern rejected");
        return std::string(markdown);
    }
    const std::vector<platform::RegexMatch> matches = pattern.allMatches(markdown);
    if (matches.empty())
        return std::string(markdown);
    std::int64_t embedded = 0;
    std::vector<std::string> replacements;
    for (const platform::RegexMatch& match : matches) {
        replacements.push_back(placeholderReplacement({.match = match,
                                                       .markdown = markdown,
                                                       .screencapturesDir = screencapturesDir,
                                                       .embedImages = embedImages,
                                                       .maxCount = maxCount,
                                                       .maxKB = maxKB,
                                                       .maxWidth = maxWidth},
                                                      embedded));
    }
    std::string result(markdown);
    for (std::size_t i = matches.size(); i-- > 0;) {
        const platform::RegexCapture& whole = matches[i].whole();
        result.replace(whole.begin, whole.end - whole.begin, replacements[i]);
    }
    if (embedded > 0)
        VelnoteLogger::summarize().info("embedded {} placeholder screenshots into summary", embedded);
    return result;
}

std::string placeholderReplacement(const PlaceholderReplacementRequest& request, std::int64_t& embedded) {
    const std::string alt = groupText(request.match, 1);
    const std::string name = groupText(request.match, 2);
    const std::optional<fs::path> file = screenshotFile(request.screencapturesDir, name);
    if (!file) {
        VelnoteLogger::summarize().error("placeholder image not found: {}", name);
        return "*画像なし: " + (alt.empty() ? name : alt) + "*";
    }
    if (!request.embedImages)
        return "![" + alt + "](" + platform::fileUrl(*file) + ")";
    if (embedded >= request.maxCount)
        return "*画像省略（上限超過）: " + name + "*";
    const std::optional<std::string> base64 = encodeImageBase64(*file, request.maxKB, request.maxWidth);
    if (!base64) {
        VelnoteLogger::summarize().error("placeholder image too large or encode failed: {}", name);
        return "*画像省略（サイズ超過）: " + name + "*";
    }
    ++embedded;
    return "![" + alt + "](data:image/jpeg;base64," + *base64 + ")";
}

std::optional<std::string> encodeImageBase64(const fs::path& image, std::int64_t maxKB,
                                             std::int64_t maxWidth) {
    try {
        // The size and the kind of file checked on the open file itself: one swapped for a FIFO or
        // grown since it was listed neither stalls nor swamps the summary.
        const platform::RgbImage decoded =
            platform::decodeJpeg(platform::readRegularFile(image, kMaxScreenshotFileBytes));
        const double scale = std::min(static_cast<double>(maxWidth) / decoded.width, 1.0);
        const int width = static_cast<int>(std::trunc(scale * decoded.width));
        const int height = static_cast<int>(std::trunc(scale * decoded.height));
        if (width < 1 || height < 1)
            return std::nullopt;
        const platform::RgbImage scaled =
            width == decoded.width ? decoded : platform::scaledByAreaAverage(decoded, width, height);
        const std::string jpeg = platform::encodeJpeg(scaled, jpegQuality(maxKB, width, height));
        if (static_cast<double>(jpeg.size()) > static_cast<double>(maxKB) * 1024.0)
            return std::nullopt;
        return platform::base64Encoded(jpeg);
    } catch (const std::exception& e) {
        VelnoteLogger::summarize().debug("cannot encode screenshot {}: {}", image.filename().string(),
                                         e.what());
        return std::nullopt;
    }
}

std::optional<std::string> extractSummaryHeadline(const fs::path& summaryFile) {
    std::string text;
    try {
        text = platform::readFile(summaryFile);
        if (!platform::isValidUtf8(text))
            throw std::runtime_error("not UTF-8 text");
    } catch (const std::exception& e) {
        VelnoteLogger::processing().error("failed to read summary: {}: {}", summaryFile.filename().string(),
                                          e.what());
        return std::nullopt;
    }
    for (const std::string& rawLine : platform::splitOn(text, "\n")) {
        const std::string line = platform::trimWhitespace(rawLine);
        if (line.empty() || line.front() != '#')
            continue;
        std::size_t start = 0;
        while (start < line.size()) {
            if (line[start] == '#') {
                ++start;
            } else if (const std::size_t space =
                           platform::leadingWhitespaceLength(std::string_view(line).substr(start));
                       space > 0) {
                start += space;
            } else {
                break;
            }
        }
        std::string rest = platform::trimWhitespace(std::string_view(line).substr(start));
        if (!rest.empty() && rest != "Velnote Summary")
            return rest;
    }
    return std::nullopt;
}

} // namespace velnote::SummaryFormatter
