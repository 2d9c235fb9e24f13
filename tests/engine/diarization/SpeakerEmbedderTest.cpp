#include "engine/diarization/DiarithError.h"
#include "engine/diarization/embedding/SpeakerEmbedderModel.h"
#include "engine/diarization/segmentation/SpeakerSegmenterModel.h"
#include "engine/foundation/ModelUtilities.h"
#include "support/ModelSets.h"

#include <gtest/gtest.h>

namespace diarith {
namespace {

using basalith::ModelUtilities;
using basalith::MultiArray;
using basalith::MultiArrayDataType;
using testing::modelSet;
using testing::Tone;
using testing::tones;

std::unique_ptr<SpeakerEmbedderModel> embedderIn(const std::filesystem::path& set, bool load = true) {
    const auto folder = embedderModelInfo().modelURL(set);
    auto embedder = std::make_unique<SpeakerEmbedderModel>(
        ModelUtilities::detectModelURL(folder, "SpeakerEmbedder"),
        ModelUtilities::detectModelURL(folder, "SpeakerEmbedderPreprocessor"),
        ModelUtilities::detectModelURL(pldaModelInfo().modelURL(set), "PldaProjector"),
        basalith::ComputeUnits::all);
    if (load)
        embedder->loadModel(false);
    return embedder;
}

// The first chunk's output of the set's segmenter over 30 s: low tone, then high tone.
SpeakerSegmenterOutput segmentedTones(const std::filesystem::path& set) {
    SpeakerSegmenterModel segmenter(
        ModelUtilities::detectModelURL(segmenterModelInfo().modelURL(set), "SpeakerSegmenter"), 1, false,
        basalith::ComputeUnits::cpuOnly);
    segmenter.loadModel(false);
    SegmenterOutputQueue queue;
    segmenter.predict(tones({{Tone::low, 15}, {Tone::high, 15}}), queue, 0);
    return *queue.take();
}

MultiArray zeros(std::vector<std::int64_t> shape) {
    return MultiArray(std::move(shape), MultiArrayDataType::float32);
}

// A hand-made chunk output: W windows of F frames, S speakers; speaker 0 active in every frame.
SpeakerSegmenterOutput everyWindowSpeakerZero(std::int64_t w, std::int64_t f, std::int64_t s,
                                              std::int64_t windowSamples, std::int64_t chunkIndex,
                                              float waveformLength) {
    MultiArray ids = zeros({w, f, s}), activity = zeros({w, s});
    for (std::int64_t i = 0; i < w; ++i) {
        for (std::int64_t j = 0; j < f; ++j)
            ids.dataAs<float>()[(i * f + j) * s] = 1.0f;
        activity.dataAs<float>()[i * s] = static_cast<float>(f);
    }
    return SpeakerSegmenterOutput({{"sliding_window_waveform", zeros({w, 1, windowSamples})},
                                   {"speaker_ids", ids},
                                   {"speaker_activity", activity},
                                   {"overlapped_speaker_activity", zeros({w, f})}},
                                  chunkIndex, zeros({480000}), 30, waveformLength, 58.9f);
}

SpeakerEmbedderContext smallContext() {
    SpeakerEmbedderContext context;
    context.geometry = {.windowsCount = 21, .framesPerWindow = 589, .speakers = 3, .secondsPerWindow = 10.0f};
    context.speakerActivity.assign(21 * 3, 0.0f);
    context.speakerIds.assign(21 * 589 * 3, 0.0f);
    context.overlappedSpeakerActivity.assign(21 * 589, 0.0f);
    return context;
}

TEST(SpeakerEmbedderContext, MoreThanTwoActiveFramesMakeASpeakerActive) {
    auto context = smallContext();
    context.speakerActivity[0] = 2.0f; // window 0, speaker 0: exactly two frames
    context.speakerActivity[1] = 3.0f;
    EXPECT_EQ(context.activeSpeakerIndices(0), (std::vector<std::int64_t>{1}));
    EXPECT_TRUE(context.activeSpeakerIndices(1).empty());
}

TEST(SpeakerEmbedderContext, OverlapScalesTheMaskAndOnlyLoneFramesCountForTheRatio) {
    auto context = smallContext();
    for (int f = 0; f < 10; ++f)
        context.speakerIds[static_cast<std::size_t>(f * 3)] = 1.0f; // window 0, speaker 0, frames 0–9
    context.speakerActivity[0] = 10.0f;
    context.overlappedSpeakerActivity[3] = 1.0f;
    context.overlappedSpeakerActivity[4] = 0.5f;
    const MultiArray masks = SpeakerEmbedderModel::speakerMasks(context, 63);
    ASSERT_EQ(masks.shape(), (std::vector<std::int64_t>{1, 63, 1767}));
    const auto values = masks.toFloatArray();
    EXPECT_EQ(values[2], 1.0f);
    EXPECT_EQ(values[3], 0.0f); // overlap 1
    EXPECT_EQ(values[4], 0.5f); // overlap 0.5
    EXPECT_EQ(values[10], 0.0f);
    EXPECT_FLOAT_EQ(context.nonOverlappedFrameRatio(0, 0), 8.0f / 589.0f);
    EXPECT_THROW(SpeakerEmbedderModel::speakerMasks(context, 62), DiarithError); // rows below W × S
}

TEST(SpeakerEmbedder, WindowPositionsRoundHalvesAwayFromZeroAndTheLastChunkKeepsItsRealWindows) {
    velnote::testing::TempDir dir;
    ModelSetSizes sizes = ModelSetSizes::tone();
    sizes.segmenter.windowSamples = 80000; // 5 s windows every 1.25 s
    writeModelSet(dir.path(), GeneratedWeights::tone, 1, sizes.consistent());
    const auto embedder = embedderIn(dir.path());

    const auto all = embedder->embed(everyWindowSpeakerZero(21, 589, 3, 80000, 1, 30.0f));
    ASSERT_EQ(all.size(), 21u);
    EXPECT_EQ(all[2].windowIndex, 30 + 3); // 2 × 1.25 = 2.5 → 3
    EXPECT_EQ(all[1].windowIndex, 30 + 1);
    EXPECT_EQ(all[20].windowIndex, 30 + 25);
    for (const auto& record : all) {
        EXPECT_EQ(record.clusterId, -1);
        EXPECT_EQ(record.speakerIndex, 0);
        EXPECT_EQ(record.activeFrames.size(), 589u);
        EXPECT_FLOAT_EQ(record.nonOverlappedFrameRatio, 1.0f);
        EXPECT_TRUE(record.pldaEmbedding.has_value());
    }
    // 10 s of real audio: windows 1… are kept while 5 + 1.25 w < 10 + 1.25.
    EXPECT_EQ(embedder->embed(everyWindowSpeakerZero(21, 589, 3, 80000, 0, 10.0f)).size(), 5u);
}

TEST(SpeakerEmbedder, TheTwoTonesGetOppositeEmbeddings) {
    const auto set = modelSet(GeneratedWeights::tone);
    const auto records = embedderIn(set)->embed(segmentedTones(set));
    ASSERT_FALSE(records.empty());
    for (const auto& record : records) {
        ASSERT_EQ(record.embedding.size(), 4u);
        const float sign = record.speakerIndex == 0 ? 1.0f : -1.0f; // low tone: low minus high > 0
        EXPECT_GT(sign * record.embedding[0], 1.0f) << record.windowIndex;
        EXPECT_LT(sign * record.embedding[1], -1.0f);
        ASSERT_TRUE(record.pldaEmbedding);
        EXPECT_EQ(record.pldaEmbedding->size(), 128u);
    }
}

TEST(SpeakerEmbedder, EachErrorFromABrokenModel) {
    const auto tone = modelSet(GeneratedWeights::tone);
    const auto segmented = segmentedTones(tone);
    const auto expectError = [](const std::function<void()>& call, DiarithError::Code code,
                                const std::string& text) {
        try {
            call();
            ADD_FAILURE() << "no error: " << text;
        } catch (const DiarithError& error) {
            EXPECT_EQ(error.code(), code);
            EXPECT_EQ(error.localizedDescription(), text);
        }
    };
    using Code = DiarithError::Code;

    const auto unloaded = embedderIn(tone, false);
    EXPECT_EQ(unloaded->speakerDimensionForMasks(), 0);
    EXPECT_EQ(unloaded->preprocessorModel().waveformSize(), 0);
    expectError([&] { unloaded->embed(segmented); }, Code::modelUnavailable,
                "Speaker embedder model is unavailable");
    unloaded->loadModel(true); // prewarm keeps nothing
    EXPECT_EQ(unloaded->modelState(), basalith::ModelState::prewarmed);
    expectError([&] { unloaded->embed(segmented); }, Code::modelUnavailable,
                "Speaker embedder model is unavailable");

    const auto embedder = embedderIn(tone);
    for (auto damage : {ModelDamage::segmenterOutputMissing, ModelDamage::segmenterWrongRank}) {
        const auto output = segmentedTones(modelSet(GeneratedWeights::tone, damage));
        expectError([&] { embedder->embed(output); }, Code::invalidModelOutput,
                    "Missing required segmenter model output");
    }
    expectError(
        [&] { embedderIn(modelSet(GeneratedWeights::tone, ModelDamage::noWaveformSize))->embed(segmented); },
        Code::invalidModelOutput,
        "SpeakerEmbedderModel requires a per-chunk preprocessor (expected waveform size 0 must exceed "
        "sliding "
        "window size 160000)");
    expectError(
        [&] {
            embedderIn(modelSet(GeneratedWeights::tone, ModelDamage::preprocessorOutputMissing))
                ->embed(segmented);
        },
        Code::invalidModelOutput, "Missing required pre embedder model output");
    embedder->pldaModel()->unloadModel();
    expectError([&] { embedder->embed(segmented); }, Code::modelUnavailable,
                "PLDAEmbedderModel not loaded. Call loadModel() first.");
    expectError(
        [] {
            SpeakerEmbedderModel::reshapeMultiArray(MultiArray({4}, MultiArrayDataType::float32), {1, 3});
        },
        Code::invalidModelOutput, "Cannot reshape [4] to [1, 3]");
}

TEST(SpeakerEmbedder, ReshapeSharesStorageAndFloatArraysReadRows) {
    MultiArray samples({6}, MultiArrayDataType::float32);
    MultiArray view = SpeakerEmbedderModel::reshapeMultiArray(samples, {1, 6});
    EXPECT_EQ(view.shape(), (std::vector<std::int64_t>{1, 6}));
    view.dataAs<float>()[5] = 2.0f;
    EXPECT_EQ(samples.dataAs<float>()[5], 2.0f);

    MultiArray rows({1, 2, 3}, MultiArrayDataType::float32);
    for (int i = 0; i < 6; ++i)
        rows.dataAs<float>()[i] = static_cast<float>(i);
    EXPECT_EQ(SpeakerEmbedderModel::floatArrays(&rows),
              (std::vector<std::vector<float>>{{0, 1, 2}, {3, 4, 5}}));
    EXPECT_TRUE(SpeakerEmbedderModel::floatArrays(nullptr).empty());
}

} // namespace
} // namespace diarith
