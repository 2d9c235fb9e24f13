#include "engine/diarization/segmentation/SpeakerSegmenterModel.h"

#include "engine/diarization/DiarithError.h"
#include "engine/diarization/segmentation/ModelGeometry.h"
#include "engine/foundation/Logging.h"
#include "engine/speech/audio/AudioProcessor.h"
#include "platform/concurrency/WorkerGroup.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>

namespace diarith {
namespace {

using basalith::Logging;
using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string formatMilliseconds(const char* format, double value) {
    char text[128];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

struct Chunk {
    std::int64_t index;
    std::vector<float> samples;
};

// The chunk list of a run: chunk k starts at k × (480000 − offset); only the last may be shorter.
std::vector<Chunk> cutChunks(const std::vector<float>& audio, std::int64_t limit, std::int64_t offset) {
    std::vector<Chunk> chunks;
    const auto n = static_cast<std::int64_t>(audio.size());
    std::int64_t previousEnd = 0;
    if (limit < 1)
        return chunks;
    for (std::int64_t index = 0;; ++index) {
        const std::int64_t start = std::max<std::int64_t>(previousEnd - offset, 0);
        const std::int64_t end = std::min(start + SpeakerSegmenterModel::kChunkSamples, n);
        chunks.push_back({index, std::vector<float>(audio.begin() + start, audio.begin() + end)});
        previousEnd = end;
        if (end >= limit)
            break;
    }
    return chunks;
}

} // namespace

SpeakerSegmenterModel::SpeakerSegmenterModel(std::filesystem::path modelURL, std::int64_t concurrentWorkers,
                                             bool useFullRedundancy, basalith::ComputeUnits computeUnits)
    : held_(std::move(modelURL), computeUnits),
      concurrentWorkers_(std::max<std::int64_t>(concurrentWorkers, 1)),
      useFullRedundancy_(useFullRedundancy) {
    Logging::info("[SpeakerSegmenter] initialized with " + held_.modelURL().filename().string() + " model");
}

float SpeakerSegmenterModel::windowsLength() const {
    const auto held = model();
    const auto windows = outputShape(held ? &held->description() : nullptr, "sliding_window_waveform", 3);
    return windows ? static_cast<float>((*windows)[2]) / 16000.0f : 0.0f;
}

float SpeakerSegmenterModel::framesPerWindow() const {
    const auto held = model();
    const auto ids = outputShape(held ? &held->description() : nullptr, "speaker_ids", 3);
    return ids ? static_cast<float>((*ids)[1]) : 0.0f;
}

float SpeakerSegmenterModel::modelSampleRate() const {
    const float length = windowsLength();
    return length > 0.0f ? framesPerWindow() / length : 0.0f;
}

std::int64_t SpeakerSegmenterModel::modelChunkStrideOffset() const {
    const auto held = model();
    const auto* description = held ? &held->description() : nullptr;
    const auto waveform = inputShape(description, "waveform", 1);
    const auto windows = outputShape(description, "sliding_window_waveform", 3);
    if (!waveform || !windows)
        return 0;
    const auto l = static_cast<float>((*windows)[2]), n = static_cast<float>((*waveform)[0]),
               w = static_cast<float>((*windows)[0]);
    const float offset = l - (n - l) / (w - 1.0f);
    if (!std::isfinite(offset) || std::fabs(offset) >= static_cast<float>(kChunkSamples))
        return 0;
    return static_cast<std::int64_t>(offset);
}

std::int64_t SpeakerSegmenterModel::maxChunks(std::int64_t samples) const {
    const auto n = static_cast<double>(samples);
    if (!useFullRedundancy_)
        return static_cast<std::int64_t>(std::ceil(n / static_cast<double>(kChunkSamples)));
    const auto step = static_cast<double>(kChunkSamples - modelChunkStrideOffset());
    const auto c = static_cast<std::int64_t>(std::ceil((n - static_cast<double>(kChunkSamples)) / step));
    return std::max<std::int64_t>(c, 0) + 1;
}

void SpeakerSegmenterModel::predict(const std::vector<float>& audio, SegmenterOutputQueue& outputs,
                                    std::int64_t windowPadding, const std::stop_token& stop) const {
    const auto held = model();
    if (!held) {
        outputs.close();
        throw DiarithError::modelUnavailable("Speaker segmenter model is unavailable");
    }
    const auto start = Clock::now();
    const auto n = static_cast<std::int64_t>(audio.size());
    const std::int64_t offset = useFullRedundancy_ ? modelChunkStrideOffset() : 0;
    velnote::platform::ClosableQueue<Chunk> chunks;
    std::int64_t chunkCount = 0;
    for (auto& chunk : cutChunks(audio, n - windowPadding, offset)) {
        chunks.push(std::move(chunk));
        ++chunkCount;
    }
    chunks.close();
    Logging::debug("[SpeakerSegmenter] split " + std::to_string(n) + " into " + std::to_string(chunkCount) +
                   " chunks with stride offset " + std::to_string(offset));

    const float frameRate = modelSampleRate();
    const auto chunkStride = static_cast<std::int64_t>(static_cast<float>(kChunkSamples - offset) / 16000.0f);
    velnote::platform::WorkerGroup workers(stop);
    for (std::int64_t w = 0; w < concurrentWorkers_; ++w) {
        workers.add([&, w](std::stop_token token) {
            const std::string tag = "[SpeakerSegmenter][" + std::to_string(w) + "] ";
            while (auto chunk = chunks.take(token)) {
                Logging::debug(tag + "inferring chunk " + std::to_string(chunk->index) +
                               " count: " + std::to_string(chunk->samples.size()));
                auto input = vocalith::AudioProcessor::padOrTrimAudio(chunk->samples, 0, kChunkSamples);
                if (!input)
                    throw DiarithError::generic("Segmentation Failed: Audio samples are nil");
                const auto began = Clock::now();
                try {
                    auto features = held->predict({{"waveform", *input}});
                    Logging::debug(tag + "inference for chunk " + std::to_string(chunk->index) + " took",
                                   std::chrono::duration<double>(Clock::now() - began).count());
                    outputs.push(SpeakerSegmenterOutput(
                        std::move(features), chunk->index, std::move(*input), chunkStride,
                        static_cast<float>(chunk->samples.size()) / 16000.0f, frameRate));
                } catch (const std::exception& error) {
                    Logging::error(tag + "inference for chunk " + std::to_string(chunk->index) +
                                   " encountered an error: " + error.what());
                    throw;
                }
            }
            Logging::debug(tag + "all chunks finished.");
        });
    }
    try {
        workers.wait();
    } catch (...) {
        outputs.close();
        throw;
    }
    Logging::debug(formatMilliseconds("[Diarith] Total segmenter model inference time: %.2f ms",
                                      millisecondsSince(start)));
    outputs.close();
}

} // namespace diarith
