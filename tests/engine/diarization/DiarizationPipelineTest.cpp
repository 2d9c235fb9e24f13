#include "engine/diarization/Diarith.h"
#include "engine/diarization/DiarithError.h"
#include "engine/diarization/pipeline/PyannoteDiarizer.h"
#include "support/ModelSets.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace diarith {
namespace {

using testing::loadedLoader;
using testing::localConfig;
using testing::modelSet;
using testing::Tone;
using testing::tones;

// Low tone 0–10 s, high 10–20 s, low 20–30 s, high 30–40 s, silence to 45 s.
std::vector<float> alternatingTones() {
    return tones({{Tone::low, 10}, {Tone::high, 10}, {Tone::low, 10}, {Tone::high, 10}, {Tone::silence, 5}});
}

SpeakerEmbedding windowOf(std::int64_t windowIndex, std::int64_t cluster, std::vector<float> frames) {
    SpeakerEmbedding e;
    e.windowIndex = windowIndex;
    e.clusterId = cluster;
    e.activeFrames = std::move(frames);
    return e;
}

struct PostProcessing : ::testing::Test {
    std::shared_ptr<PyannoteDiarizer> diarizer =
        loadedLoader(modelSet(GeneratedWeights::tone))->makeDiarizer();
    PyannoteDiarizerActor& actor = diarizer->diarizerActor();
};

TEST_F(PostProcessing, OneFullWindowIsActiveOnItsFramesOnly) {
    const auto result = actor.postProcess({windowOf(0, 0, std::vector<float>(589, 1.0f))}, 480000, true);
    EXPECT_EQ(result.speakerCount(), 1);
    ASSERT_EQ(result.totalFrames(), 1767);
    EXPECT_FLOAT_EQ(result.frameRate(), 58.9f);
    const auto& row = result.binaryMatrix()[0];
    EXPECT_EQ(std::count(row.begin(), row.begin() + 589, 1), 589);
    EXPECT_EQ(std::count(row.begin() + 589, row.end(), 1), 0);

    const auto empty = actor.postProcess({}, 480000, true);
    EXPECT_EQ(empty.speakerCount(), 0);
    EXPECT_TRUE(empty.segments().empty());
}

TEST_F(PostProcessing, AnUnclusteredEmbeddingIsOnlyLogged) {
    const auto result = actor.postProcess(
        {windowOf(0, -1, std::vector<float>(589, 1.0f)), windowOf(1, 0, std::vector<float>(589, 0.0f))},
        480000, true);
    EXPECT_EQ(result.speakerCount(), 1);
    const auto& row = result.binaryMatrix()[0];
    EXPECT_EQ(std::count(row.begin(), row.end(), 1), 0); // the −1 window neither covers nor activates
}

TEST_F(PostProcessing, ExclusiveReconciliationLeavesOneSpeakerPerFrameTheLowerOnATie) {
    std::vector<float> active(589, 1.0f);
    const std::vector<SpeakerEmbedding> both{windowOf(0, 0, active), windowOf(0, 1, active)};
    const auto exclusive = actor.postProcess(both, 480000, true);
    const auto overlapping = actor.postProcess(both, 480000, false);
    for (std::int64_t f = 0; f < 589; ++f) {
        EXPECT_EQ(exclusive.binaryMatrix()[0][static_cast<std::size_t>(f)], 1);
        EXPECT_EQ(exclusive.binaryMatrix()[1][static_cast<std::size_t>(f)], 0);
        EXPECT_EQ(overlapping.binaryMatrix()[1][static_cast<std::size_t>(f)], 1);
    }
    // One active window out of two: 0.5 rounds up; one out of three: 0.33 does not.
    std::vector<float> silent(589, 0.0f);
    const auto half = actor.postProcess(
        {windowOf(0, 0, active), windowOf(0, 0, silent), windowOf(1, 0, silent)}, 480000, true);
    EXPECT_EQ(half.binaryMatrix()[0][100], 1);
}

TEST(DiarizationPipeline, ClipTimestampsBecomeSampleRanges) {
    const auto diarizer = loadedLoader(modelSet(GeneratedWeights::tone))->makeDiarizer();
    const auto& actor = diarizer->diarizerActor();
    PyannoteDiarizationOptions options;
    options.clipTimestamps = {5.0f};
    EXPECT_EQ(actor.prepareSeekClips(160000, &options), (std::vector<SeekClip>{{80000, 160000}}));
    options.clipTimestamps = {1.0f, 2.0f, 3.0f};
    EXPECT_EQ(actor.prepareSeekClips(160000, &options),
              (std::vector<SeekClip>{{16000, 32000}, {48000, 160000}}));
    EXPECT_EQ(actor.prepareSeekClips(160000, nullptr), (std::vector<SeekClip>{{0, 160000}}));
    for (auto bad : std::vector<std::vector<float>>{{2.0f, 1.0f}, {20.0f}, {-1.0f}, {1e30f}, {NAN}}) {
        options.clipTimestamps = bad;
        EXPECT_THROW(actor.prepareSeekClips(160000, &options), DiarithError);
    }
}

TEST(DiarizationPipeline, ProgressRisesFromZeroToAHundred) {
    const auto diarizer = loadedLoader(modelSet(GeneratedWeights::tone))->makeDiarizer();
    std::mutex mutex;
    std::vector<std::int64_t> seen;
    diarizer->diarize(alternatingTones(), nullptr, [&](const DiarizationProgress& p) {
        std::lock_guard lock(mutex);
        EXPECT_EQ(p.totalUnitCount, 100);
        seen.push_back(p.completedUnitCount);
    });
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen.back(), 100);
    for (std::size_t i = 1; i < seen.size(); ++i)
        EXPECT_GT(seen[i], seen[i - 1]);
    EXPECT_NE(std::find(seen.begin(), seen.end(), 85), seen.end());
}

TEST(DiarizationPipeline, OneAndFourEmbedderWorkersAgreeAndNoneCountsAsOne) {
    const auto audio = alternatingTones();
    std::vector<std::string> segments;
    for (std::int64_t workers : {1, 4, 0}) {
        const auto diarizer = loadedLoader(modelSet(GeneratedWeights::tone), workers)->makeDiarizer();
        const auto result = diarizer->diarize(audio, nullptr, {});
        const auto& timings = dynamic_cast<const PyannoteDiarizationTimings&>(*result.timings());
        EXPECT_EQ(timings.numberOfEmbedderWorkers, std::max<std::int64_t>(workers, 1));
        EXPECT_EQ(timings.numberOfChunks, 2);
        EXPECT_EQ(result.speakerCount(), 2);
        std::string text;
        for (const auto& segment : result.segments())
            text += segment.speaker().description() + " " + std::to_string(segment.startTime()) + "–" +
                    std::to_string(segment.endTime()) + "; ";
        segments.push_back(text);
    }
    EXPECT_EQ(segments[0], segments[1]);
    EXPECT_EQ(segments[0], segments[2]);
}

TEST(DiarizationPipeline, AChunkThatFailsToEmbedFailsTheDiarizationWithItsError) {
    const auto diarizer =
        loadedLoader(modelSet(GeneratedWeights::tone, ModelDamage::segmenterOutputMissing))->makeDiarizer();
    try {
        diarizer->diarize(alternatingTones(), nullptr, {});
        FAIL();
    } catch (const DiarithError& error) {
        EXPECT_EQ(error.localizedDescription(), "Missing required segmenter model output");
    }
}

TEST(ModelLoader, BadGeometryIsRefusedAtLoadNamingTheValue) {
    const std::vector<std::pair<ModelDamage, std::string>> cases{
        {ModelDamage::singleWindow, "1 windows per chunk"},
        {ModelDamage::fewMaskRows, "mask rows 62 below windows × speakers 63"},
        {ModelDamage::segmenterWrongRank, "0 frames per window"}};
    for (const auto& [damage, text] : cases) {
        const auto folder = modelSet(GeneratedWeights::tone, damage);
        PyannoteModelLoader loader(localConfig(folder), segmenterModelInfo(), embedderModelInfo(),
                                   pldaModelInfo());
        try {
            loader.load(folder.string(), false);
            ADD_FAILURE() << text;
        } catch (const DiarithError& error) {
            EXPECT_EQ(error.code(), DiarithError::Code::invalidModelOutput);
            EXPECT_NE(error.localizedDescription().find(text), std::string::npos) << error.what();
        }
        EXPECT_EQ(loader.models(), nullptr);
    }
}

TEST(ModelLoader, PrewarmAndUnloadLeaveNoModelsAndNoPipeline) {
    const auto folder = modelSet(GeneratedWeights::tone);
    auto loader = std::make_shared<PyannoteModelLoader>(localConfig(folder), segmenterModelInfo(),
                                                        embedderModelInfo(), pldaModelInfo());
    basalith::ModelDownloader unused(localConfig(folder).modelDownloadConfig);
    EXPECT_EQ(loader->resolveModels(unused, {}, {}), folder.string());
    loader->load(folder.string(), true);
    EXPECT_EQ(loader->models(), nullptr);
    EXPECT_THROW(loader->makeDiarizer(), DiarithError);
    loader->load(folder.string(), false);
    const auto diarizer = loader->makeDiarizer();
    loader->unload();
    EXPECT_EQ(loader->models(), nullptr);
    try {
        loader->makeDiarizer();
        FAIL();
    } catch (const DiarithError& error) {
        EXPECT_EQ(error.localizedDescription(), "Pyannote models are not loaded");
    }
    // A pipeline made before the unload keeps its wrappers and loads their models again.
    EXPECT_EQ(diarizer->diarize(alternatingTones(), nullptr, {}).speakerCount(), 2);
}

TEST(Diarith, TwoConcurrentDiarizationsOnAFreshEngineLoadOnce) {
    Diarith engine(localConfig(modelSet(GeneratedWeights::tone)));
    auto* manager = dynamic_cast<DiarithDiarizer*>(engine.diarizer().get());
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(manager->modelState(), basalith::ModelState::unloaded);
    std::atomic<int> loads{0};
    manager->setModelStateCallback([&](basalith::ModelState, basalith::ModelState next) {
        if (next == basalith::ModelState::loading)
            ++loads;
    });
    const auto audio = alternatingTones();
    std::vector<std::int64_t> speakers(2);
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i)
        threads.emplace_back(
            [&, i] { speakers[static_cast<std::size_t>(i)] = engine.diarize(audio).speakerCount(); });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(loads.load(), 1);
    EXPECT_EQ(speakers, (std::vector<std::int64_t>{2, 2}));
    engine.unloadModels();
    EXPECT_EQ(manager->modelState(), basalith::ModelState::unloaded);
}

TEST(Diarith, UnloadingDuringADiarizationFreesNoModelInUse) {
    Diarith engine(localConfig(modelSet(GeneratedWeights::tone), std::nullopt, 2, true));
    const auto audio = alternatingTones();
    std::thread running([&] {
        try {
            engine.diarize(audio); // finishes on the models it holds, or reports that they are gone
        } catch (const DiarithError&) {
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    engine.unloadModels();
    running.join();
    EXPECT_EQ(engine.diarize(audio).speakerCount(), 2); // loads again
}

TEST(Diarith, AConfigurationWithoutPipelineOrDiarizerIsRefused) {
    const DiarithConfig plain(std::nullopt, false, false, basalith::Logging::LogLevel::none, false, nullptr);
    try {
        Diarith engine(plain);
        FAIL();
    } catch (const DiarithError& error) {
        EXPECT_EQ(error.localizedDescription(), "Config must be PyannoteConfig or provide custom diarizer");
    }
}

// The alternating tones come out as two speakers, each turn at its tone's place.
TEST(DiarizationEndToEnd, AlternatingTonesAreTwoSpeakersAtTheRightTimes) {
    Diarith engine(localConfig(modelSet(GeneratedWeights::tone), std::nullopt, 2, true));
    const auto result = engine.diarize(alternatingTones());
    ASSERT_EQ(result.speakerCount(), 2);
    const auto& segments = result.segments();
    ASSERT_EQ(segments.size(), 4u);
    const double expected[4][2] = {{0, 10}, {10, 20}, {20, 30}, {30, 40}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(segments[i].startTime(), expected[i][0], 0.3) << i;
        EXPECT_NEAR(segments[i].endTime(), expected[i][1], 0.3) << i;
    }
    EXPECT_EQ(segments[0].speaker().speakerId(), segments[2].speaker().speakerId());
    EXPECT_EQ(segments[1].speaker().speakerId(), segments[3].speaker().speakerId());
    EXPECT_NE(segments[0].speaker().speakerId(), segments[1].speaker().speakerId());
}

TEST(DiarizationEndToEnd, ARequestedSpeakerCountIsHonoured) {
    Diarith engine(localConfig(modelSet(GeneratedWeights::tone), std::nullopt, 2, true));
    PyannoteDiarizationOptions options;
    options.numberOfSpeakers = 1;
    EXPECT_EQ(engine.diarize(alternatingTones(), &options).speakerCount(), 1);
}

TEST(DiarizationEndToEnd, AClipLaterInTheAudioKeepsItsPlace) {
    Diarith engine(localConfig(modelSet(GeneratedWeights::tone), std::nullopt, 2, true));
    PyannoteDiarizationOptions options;
    options.clipTimestamps = {12.0f};
    const auto result = engine.diarize(tones({{Tone::low, 12}, {Tone::high, 20}}), &options);
    ASSERT_EQ(result.segments().size(), 1u);
    EXPECT_NEAR(result.segments()[0].startTime(), 12.0, 0.3);
    EXPECT_NEAR(result.segments()[0].endTime(), 32.0, 0.3);
}

TEST(DiarizationEndToEnd, RandomModelsRunTheWholePipeline) {
    Diarith engine(localConfig(modelSet(GeneratedWeights::random), std::nullopt, 2, true));
    const auto result = engine.diarize(alternatingTones());
    EXPECT_GE(result.speakerCount(), 0);
    EXPECT_EQ(result.totalFrames(), result.speakerCount() > 0 ? 1767 * 2 : 0);
}

} // namespace
} // namespace diarith
