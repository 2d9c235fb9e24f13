#pragma once

#include "summary/core/SummaryRequests.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// Screenshot placeholders in a written summary, "![alt](PLACEHOLDER:<file>)",
// become images the preview can show, and the summary's headline is read
// back. Stateless; any thread; the screenshots are only read.
namespace velnote::SummaryFormatter {

// A screenshot larger than this is not read at all (it is no screenshot).
inline constexpr std::uintmax_t kMaxScreenshotFileBytes = 64ull * 1024 * 1024;

// `markdown` with every placeholder replaced, in text order: by the JPEG as a
// data URL while `embedImages` and fewer than `maxCount` images are embedded,
// by a link to the file when not embedding, or by a short Japanese note when
// the file is missing, the limit is reached or the image stays over `maxKB`.
// A file name with "/" or "..", or one that resolves outside
// `screencapturesDir`, counts as missing. The same text when there is no
// placeholder.
std::string replacePlaceholders(std::string_view markdown, const std::filesystem::path& screencapturesDir,
                                bool embedImages, std::int64_t maxCount, std::int64_t maxKB,
                                std::int64_t maxWidth);

// The replacement of one placeholder; raises `embedded` when it embeds.
std::string placeholderReplacement(const PlaceholderReplacementRequest& request, std::int64_t& embedded);

// The first image of the file scaled to at most `maxWidth` pixels wide (never
// enlarged), encoded once as JPEG at the quality its byte budget allows (at
// most 0.82), as Base64 without line breaks; std::nullopt when the file cannot
// be read or decoded, or the JPEG is larger than `maxKB` KiB.
std::optional<std::string> encodeImageBase64(const std::filesystem::path& image, std::int64_t maxKB,
                                             std::int64_t maxWidth);

// The first Markdown heading of the summary file other than "Velnote Summary",
// without its "#" marks; std::nullopt without one or when the file cannot be
// read as UTF-8 (logged, category "processing").
std::optional<std::string> extractSummaryHeadline(const std::filesystem::path& summaryFile);

} // namespace velnote::SummaryFormatter
