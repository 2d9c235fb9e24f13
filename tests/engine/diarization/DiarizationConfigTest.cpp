#include "engine/diarization/config/DiarithConfig.h"
#include "engine/diarization/config/DiarizationOptions.h"
#include "engine/diarization/config/DiarizationTimings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

namespace diarith {
namespace {

using ::testing::ElementsAre;
using Level = basalith::Logging::LogLevel;

// The entries between "DiarizationTimings({" and "})", as a set.
std::set<std::string> entries(const std::string& description) {
    const std::string head = "DiarizationTimings({";
    EXPECT_TRUE(description.starts_with(head) && description.ends_with("})")) << description;
    const std::string body = description.substr(head.size(), description.size() - head.size() - 2);
    std::set<std::string> result;
    std::size_t start = 0;
    for (std::size_t comma; (comma = body.find(", ", start)) != std::string::npos; start = comma + 2)
        result.insert(body.substr(start, comma - start));
    result.insert(body.substr(start));
    return result;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

TEST(DiarizationTimingsTest, FreshReportPrintsZeros) {
    const PyannoteDiarizationTimings timings;
    EXPECT_EQ(entries(timings.description()),
              (std::set<std::string>{"input_length: 0.0", "num_chunks: 0", "num_embeddings: 0",
                                     "num_speakers: 0", "num_segmenter_workers: 0", "num_embedder_workers: 0",
                                     "loading_time: 0.000", "segmenter_time: 0.000", "embedding_time: 0.000",
                                     "clustering_time: 0.000", "total_time: 0.000"}));
    EXPECT_EQ(lines(timings.debugDescription())[8], "- Average Time per Chunk: \t 0.000 ms");
    EXPECT_FALSE(timings.debugDescription().ends_with("\n"));
}

TEST(DiarizationTimingsTest, FilledReport) {
    PyannoteDiarizationTimings timings;
    timings.inputAudioSeconds = 12.5;
    timings.numberOfChunks = 3;
    timings.numberOfEmbeddings = 14;
    timings.numberOfSpeakers = 2;
    timings.numberOfSegmenterWorkers = 1;
    timings.numberOfEmbedderWorkers = 4;
    timings.modelLoading = 1.23456;
    timings.segmenterTime = 90;
    timings.embedderTime = 30;
    timings.clusteringTime = 7.0006;
    timings.fullPipeline = 250;
    timings.pipelineStart = 99999;
    const auto described = entries(timings.description());
    EXPECT_EQ(described.size(), 11u);
    EXPECT_TRUE(described.contains("input_length: 12.5"));
    EXPECT_TRUE(described.contains("loading_time: 1.235"));
    EXPECT_TRUE(described.contains("num_embedder_workers: 4"));
    EXPECT_THAT(lines(timings.debugDescription()),
                ElementsAre("---- Diarization Timings ----", "Audio Length: \t\t\t 12.5 seconds",
                            "Model Load Time: \t\t 1.235 ms", "Total Time: \t\t\t 250.000 ms",
                            "Segmenter:", "- Number of Chunks: \t\t 3", "- Total Time: \t\t\t 90.000 ms",
                            "- Number of Workers: \t\t 1", "- Average Time per Chunk: \t 30.000 ms",
                            "Embedder:", "- Total Time: \t\t\t 30.000 ms", "- Number of Workers: \t\t 4",
                            "- Average Time per Chunk: \t 10.000 ms",
                            "Clustering:", "- Number of Embeddings: \t 14", "- Number of Speakers: \t\t 2",
                            "- Clustering Time: \t\t 7.001 ms"));
}

TEST(DiarithConfigTest, DefaultDownloadConfigurationAndBothInitialisers) {
    const PyannoteConfig plain(std::nullopt, true, false, false, Level::info, true, 2, std::nullopt, nullptr);
    EXPECT_EQ(plain.modelDownloadConfig.modelRepo, "quorvaneinc/diarith-coreml");
    EXPECT_EQ(plain.modelDownloadConfig.revision, "main");
    EXPECT_FALSE(plain.modelDownloadConfig.downloadBase);
    EXPECT_FALSE(plain.modelDownloadConfig.useBackgroundSession);
    EXPECT_TRUE(plain.download);
    EXPECT_FALSE(plain.load);
    EXPECT_FALSE(plain.verbose);
    EXPECT_EQ(plain.concurrentSegmenterWorkers, 2);

    const PyannoteConfig fields("/tmp/base", "me/models", "token", std::nullopt, false, true,
                                "http://127.0.0.1:9", "v2", true, true, Level::debug, false, 1, 3, nullptr);
    EXPECT_EQ(fields.modelDownloadConfig.downloadBase, "/tmp/base");
    EXPECT_EQ(fields.modelDownloadConfig.modelRepo, "me/models");
    EXPECT_EQ(fields.modelDownloadConfig.modelToken, "token");
    EXPECT_TRUE(fields.modelDownloadConfig.useBackgroundSession);
    EXPECT_EQ(fields.modelDownloadConfig.endpoint, "http://127.0.0.1:9");
    EXPECT_EQ(fields.modelDownloadConfig.revision, "v2");
    EXPECT_EQ(fields.concurrentEmbedderWorkers, 3);
    EXPECT_EQ(fields.logLevel, Level::debug);

    const DiarithConfig base(std::nullopt, false, true, Level::error, true, nullptr);
    EXPECT_EQ(base.modelDownloadConfig.modelRepo, "quorvaneinc/diarith-coreml");
    EXPECT_TRUE(base.load);
}

TEST(DiarizationOptionsTest, DefaultsOfADiarizationWithoutOptions) {
    const PyannoteDiarizationOptions options;
    EXPECT_FALSE(options.numberOfSpeakers);
    EXPECT_FALSE(options.minActiveOffset);
    EXPECT_FALSE(options.clusterDistanceThreshold);
    EXPECT_FALSE(options.minClusterSize);
    EXPECT_TRUE(options.useExclusiveReconciliation);
    EXPECT_TRUE(options.clipTimestamps.empty());
}

} // namespace
} // namespace diarith
