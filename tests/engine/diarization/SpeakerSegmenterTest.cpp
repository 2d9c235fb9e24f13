#include "engine/diarization/DiarithError.h"
#include "engine/diarization/segmentation/SpeakerSegmenterModel.h"
#include "engine/foundation/ModelUtilities.h"
#include "support/ModelSets.h"

#include <gtest/gtest.h>

namespace diarith {
namespace {

using testing::modelSet;

std::filesystem::path segmenterFile(GeneratedWeights weights = GeneratedWeights::tone) {
    return basalith::ModelUtilities::detectModelURL(segmenterModelInfo().modelURL(modelSet(weights)),
                                                    "SpeakerSegmenter");
}

std::vector<SpeakerSegmenterOutput> drain(SegmenterOutputQueue& queue) {
    std::vector<SpeakerSegmenterOutput> out;
    while (auto output = queue.take())
        out.push_back(std::move(*output));
    std::sort(out.begin(), out.end(),
              [](const auto& a, const auto& b) { return a.chunkIndex < b.chunkIndex; });
    return out;
}

TEST(SpeakerSegmenter, GeometryComesFromTheModelsDeclaredShapes) {
    SpeakerSegmenterModel segmenter(segmenterFile(), 0, false, basalith::ComputeUnits::cpuOnly);
    EXPECT_EQ(segmenter.concurrentWorkers(), 1); // 0 workers act as 1
    EXPECT_EQ(segmenter.windowsLength(), 0.0f);  // nothing loaded yet
    EXPECT_EQ(segmenter.modelChunkStrideOffset(), 0);
    segmenter.loadModel(false);
    EXPECT_EQ(segmenter.modelState(), basalith::ModelState::loaded);
    EXPECT_FLOAT_EQ(segmenter.windowsLength(), 10.0f);
    EXPECT_FLOAT_EQ(segmenter.modelSampleRate(), 58.9f);
    // 21 ten-second windows over 30 s step 1 s: consecutive windows overlap by 9 s.
    EXPECT_EQ(segmenter.modelChunkStrideOffset(), 144000);
    segmenter.unloadModel();
    EXPECT_EQ(segmenter.model(), nullptr);
}

TEST(SpeakerSegmenter, MaxChunksEqualsTheChunksAPredictionMakes) {
    for (bool redundancy : {false, true}) {
        SpeakerSegmenterModel segmenter(segmenterFile(), 3, redundancy, basalith::ComputeUnits::cpuOnly);
        segmenter.loadModel(false);
        for (std::int64_t n :
             {std::int64_t{1}, std::int64_t{480000}, std::int64_t{480001}, std::int64_t{1100000}}) {
            SegmenterOutputQueue queue;
            segmenter.predict(std::vector<float>(static_cast<std::size_t>(n), 0.0f), queue, 0);
            const auto outputs = drain(queue);
            EXPECT_EQ(static_cast<std::int64_t>(outputs.size()), segmenter.maxChunks(n))
                << n << " " << redundancy;
            const std::int64_t stride = redundancy ? 336000 : 480000;
            for (const auto& output : outputs) {
                EXPECT_EQ(output.chunkStride, stride / 16000);
                const std::int64_t start = output.chunkIndex * stride;
                EXPECT_FLOAT_EQ(output.waveformLength,
                                static_cast<float>(std::min<std::int64_t>(480000, n - start)) / 16000.0f);
                EXPECT_EQ(output.windowsCount(), 21);
                EXPECT_FLOAT_EQ(output.secondsPerWindow(), 10.0f);
            }
        }
        EXPECT_EQ(segmenter.maxChunks(0), redundancy ? 1 : 0);
    }
}

TEST(SpeakerSegmenter, OneFullChunkIsThirtySecondsWithoutZeroFill) {
    SpeakerSegmenterModel segmenter(segmenterFile(), 2, false, basalith::ComputeUnits::cpuOnly);
    segmenter.loadModel(false);
    SegmenterOutputQueue queue;
    segmenter.predict(std::vector<float>(480000, 0.25f), queue, 0);
    const auto outputs = drain(queue);
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_FLOAT_EQ(outputs[0].waveformLength, 30.0f);
    EXPECT_EQ(outputs[0].audioChunk.shape(), (std::vector<std::int64_t>{480000}));
    EXPECT_EQ(outputs[0].audioChunk.dataAs<float>()[479999], 0.25f);
    EXPECT_NE(outputs[0].debugDescription().find("speaker_ids: [21, 589, 3]"), std::string::npos);
}

TEST(SpeakerSegmenter, NoAudioMakesNoChunkAndNoModelIsAnError) {
    SpeakerSegmenterModel segmenter(segmenterFile(), 1, false, basalith::ComputeUnits::cpuOnly);
    SegmenterOutputQueue closedByError;
    try {
        segmenter.predict(std::vector<float>(100, 0.0f), closedByError, 0);
        FAIL();
    } catch (const DiarithError& error) {
        EXPECT_EQ(error.code(), DiarithError::Code::modelUnavailable);
        EXPECT_STREQ(error.what(), "Speaker segmenter model is unavailable");
    }
    EXPECT_EQ(closedByError.take(), std::nullopt); // closed, so consumers end
    segmenter.loadModel(false);
    SegmenterOutputQueue queue;
    segmenter.predict({}, queue, 0);
    EXPECT_TRUE(drain(queue).empty());
}

TEST(SpeakerSegmenter, AChunkThatFailsFailsTheRunWithItsError) {
    SpeakerSegmenterModel segmenter(segmenterFile(), 2, false, basalith::ComputeUnits::cpuOnly);
    segmenter.loadModel(false);
    std::vector<float> audio(1500000, 0.0f);
    audio[1000000] = NAN; // chunk 2 cannot be segmented
    SegmenterOutputQueue queue;
    EXPECT_THROW(segmenter.predict(audio, queue, 0), std::exception);
    drain(queue); // closed
}

} // namespace
} // namespace diarith
