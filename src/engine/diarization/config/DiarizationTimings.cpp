#include "engine/diarization/config/DiarizationTimings.h"

#include "engine/foundation/Logging.h"

#include <cstdio>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace diarith {
namespace {

std::string milliseconds(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.3f", value);
    return buffer;
}

// The default text of a double: the shortest form that reads back, always with a fraction.
std::string seconds(double value) {
    return basalith::Logging::toLogText(value);
}

std::string labelled(std::string_view label, int tabs, const std::string& value) {
    return std::string(label) + " " + std::string(static_cast<std::size_t>(tabs), '\t') + " " + value;
}

double perChunk(double total, std::int64_t chunks) {
    return chunks >= 1 ? total / static_cast<double>(chunks) : 0.0;
}

} // namespace

std::string PyannoteDiarizationTimings::description() const {
    // Kept in a hash map on purpose: callers must not rely on the order of the entries.
    const std::unordered_map<std::string, std::string> entries{
        {"input_length", seconds(inputAudioSeconds)},
        {"num_chunks", std::to_string(numberOfChunks)},
        {"num_embeddings", std::to_string(numberOfEmbeddings)},
        {"num_speakers", std::to_string(numberOfSpeakers)},
        {"num_segmenter_workers", std::to_string(numberOfSegmenterWorkers)},
        {"num_embedder_workers", std::to_string(numberOfEmbedderWorkers)},
        {"loading_time", milliseconds(modelLoading)},
        {"segmenter_time", milliseconds(segmenterTime)},
        {"embedding_time", milliseconds(embedderTime)},
        {"clustering_time", milliseconds(clusteringTime)},
        {"total_time", milliseconds(fullPipeline)},
    };
    std::string joined;
    for (const auto& [key, value] : entries)
        joined += (joined.empty() ? "" : ", ") + key + ": " + value;
    return "DiarizationTimings({" + joined + "})";
}

std::string PyannoteDiarizationTimings::debugDescription() const {
    const std::vector<std::string> lines{
        "---- Diarization Timings ----",
        labelled("Audio Length:", 3, seconds(inputAudioSeconds) + " seconds"),
        labelled("Model Load Time:", 2, milliseconds(modelLoading) + " ms"),
        labelled("Total Time:", 3, milliseconds(fullPipeline) + " ms"),
        "Segmenter:",
        labelled("- Number of Chunks:", 2, std::to_string(numberOfChunks)),
        labelled("- Total Time:", 3, milliseconds(segmenterTime) + " ms"),
        labelled("- Number of Workers:", 2, std::to_string(numberOfSegmenterWorkers)),
        labelled("- Average Time per Chunk:", 1,
                 milliseconds(perChunk(segmenterTime, numberOfChunks)) + " ms"),
        "Embedder:",
        labelled("- Total Time:", 3, milliseconds(embedderTime) + " ms"),
        labelled("- Number of Workers:", 2, std::to_string(numberOfEmbedderWorkers)),
        // Divided by the segmentation chunks, not the embeddings, as the report has always done.
        labelled("- Average Time per Chunk:", 1,
                 milliseconds(perChunk(embedderTime, numberOfChunks)) + " ms"),
        "Clustering:",
        labelled("- Number of Embeddings:", 1, std::to_string(numberOfEmbeddings)),
        labelled("- Number of Speakers:", 2, std::to_string(numberOfSpeakers)),
        labelled("- Clustering Time:", 2, milliseconds(clusteringTime) + " ms"),
    };
    std::string text;
    for (const auto& line : lines)
        text += (text.empty() ? "" : "\n") + line;
    return text;
}

} // namespace diarith
