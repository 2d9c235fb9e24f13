#include "engine/diarization/embedding/WindowGeometry.h"

#include "engine/diarization/DiarithError.h"
#include "engine/foundation/Logging.h"

#include <cmath>
#include <limits>
#include <string>

namespace diarith {
namespace {

[[noreturn]] void invalid(const std::string& what) {
    throw DiarithError::invalidModelOutput("Invalid model geometry: " + what);
}

std::string number(float value) {
    return basalith::Logging::toLogText(value);
}

} // namespace

float WindowGeometry::windowStep() const {
    return windowsCount >= 2 ? (secondsPerChunk - secondsPerWindow) / static_cast<float>(windowsCount - 1)
                             : 0.0f;
}

std::int64_t WindowGeometry::framesPerChunk() const {
    const float frames = secondsPerChunk * static_cast<float>(framesPerWindow) / secondsPerWindow;
    if (!std::isfinite(frames) || frames < 0.0f ||
        frames > static_cast<float>(std::numeric_limits<std::int32_t>::max()))
        return 0;
    return static_cast<std::int64_t>(frames);
}

std::vector<std::vector<std::int64_t>> WindowGeometry::chunkIndices() const {
    std::vector<std::vector<std::int64_t>> rows;
    const float framesPerSecond = static_cast<float>(framesPerWindow) / secondsPerWindow;
    const float frameStep = framesPerSecond * windowStep();
    const float count = static_cast<float>(framesPerChunk() - framesPerWindow) / frameStep + 1.0f;
    if (!(frameStep > 0.0f) || !std::isfinite(frameStep) || !(count > 0.0f))
        return rows;
    for (std::int64_t k = 0; static_cast<float>(k) < count && k < windowsCount; ++k) {
        const auto start = static_cast<std::int64_t>(frameStep * static_cast<float>(k));
        std::vector<std::int64_t> row(static_cast<std::size_t>(framesPerWindow));
        for (std::int64_t f = 0; f < framesPerWindow; ++f)
            row[static_cast<std::size_t>(f)] = start + f;
        rows.push_back(std::move(row));
    }
    return rows;
}

void WindowGeometry::check(std::int64_t maskRows, std::int64_t maskFrames, std::int64_t embeddingRows) const {
    if (!(secondsPerWindow > 0.0f) || !std::isfinite(secondsPerWindow))
        invalid("windowsLength " + number(secondsPerWindow) + " is not a positive number of seconds");
    if (windowsCount < 2)
        invalid(std::to_string(windowsCount) + " windows per chunk, at least 2 needed");
    if (framesPerWindow < 1 || speakers < 1)
        invalid(std::to_string(framesPerWindow) + " frames per window and " + std::to_string(speakers) +
                " local speakers");
    const std::int64_t needed = windowsCount * speakers;
    if (maskRows < needed)
        invalid("mask rows " + std::to_string(maskRows) + " below windows × speakers " +
                std::to_string(needed));
    if (embeddingRows < needed)
        invalid("embedding rows " + std::to_string(embeddingRows) + " below windows × speakers " +
                std::to_string(needed));
    const std::int64_t columns = framesPerChunk();
    if (maskFrames != columns)
        invalid("mask frames " + std::to_string(maskFrames) + " differ from framesPerChunk " +
                std::to_string(columns));
    const auto rows = chunkIndices();
    if (static_cast<std::int64_t>(rows.size()) < windowsCount)
        invalid("chunk indices place " + std::to_string(rows.size()) + " of " + std::to_string(windowsCount) +
                " windows");
    for (const auto& row : rows) {
        if (!row.empty() && row.back() >= columns)
            invalid("chunk index " + std::to_string(row.back()) + " beyond framesPerChunk " +
                    std::to_string(columns));
    }
}

} // namespace diarith
