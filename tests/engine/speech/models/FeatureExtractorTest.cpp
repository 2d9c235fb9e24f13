// The feature extractor and audio encoder wrappers over generated models of the runtime.

#include "engine/speech/models/FeatureExtractor.h"

#include "engine/speech/WhisperError.h"
#include "engine/speech/models/AudioEncoder.h"
#include "platform/concurrency/CancellationError.h"
#include "platform/ml/ModelGenerator.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace vocalith {
namespace {

namespace ml = velnote::platform::ml;
using basalith::MultiArray;
using basalith::MultiArrayDataType;

TEST(FeatureExtractorTest, UnloadedWrappersHaveNoSizesAndRefuseWork) {
    FeatureExtractor extractor;
    AudioEncoder encoder;
    EXPECT_EQ(extractor.modelState(), basalith::ModelState::unloaded);
    EXPECT_FALSE(extractor.windowSamples() || extractor.melCount() || encoder.embedSize() ||
                 encoder.sequenceLength());
    const MultiArray audio({16000}, MultiArrayDataType::float32);
    try {
        extractor.logMelSpectrogram(audio);
        FAIL() << "no error";
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.message(), "Models are unavailable");
    }
    EXPECT_THROW(encoder.encodeFeatures(audio), WhisperError);
}

TEST(FeatureExtractorTest, WindowGoesThroughMelAndEncoder) {
    velnote::testing::TempDir folder;
    const ml::MelSpectrogramConfig mel{.windowSamples = 16000, .melCount = 80};
    const ml::AudioEncoderConfig encoderConfig{
        .melCount = 80, .contextLength = 50, .width = 64, .headCount = 2, .layerCount = 1};
    ml::writeRandomModel(folder / "MelSpectrogram.mlmodelc", mel, 1);
    ml::writeRandomModel(folder / "AudioEncoder.mlmodelc", encoderConfig, 1);

    FeatureExtractor extractor;
    AudioEncoder encoder;
    extractor.loadModel(folder / "MelSpectrogram.mlmodelc", basalith::ComputeUnits::cpuOnly, true);
    EXPECT_EQ(extractor.modelState(), basalith::ModelState::unloaded); // prewarmed only
    extractor.loadModel(folder / "MelSpectrogram.mlmodelc", basalith::ComputeUnits::cpuOnly, false);
    encoder.loadModel(folder / "AudioEncoder.mlmodelc", basalith::ComputeUnits::cpuOnly, false);
    EXPECT_EQ(extractor.windowSamples(), 16000);
    EXPECT_EQ(extractor.melCount(), 80);
    EXPECT_EQ(encoder.embedSize(), 64);
    EXPECT_EQ(encoder.sequenceLength(), 50);

    const auto features = extractor.logMelSpectrogram(MultiArray({16000}, MultiArrayDataType::float32));
    ASSERT_TRUE(features);
    EXPECT_EQ(features->shape()[1], 80);
    const auto embeds = encoder.encodeFeatures(*features);
    ASSERT_TRUE(embeds);
    EXPECT_EQ(embeds->shape(), (MultiArray::Index{1, 64, 1, 50}));

    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(encoder.encodeFeatures(*features, stop.get_token()), velnote::platform::CancellationError);
    // A failed load keeps the model there was.
    EXPECT_ANY_THROW(encoder.loadModel(folder / "Missing.mlmodelc", basalith::ComputeUnits::cpuOnly, false));
    EXPECT_EQ(encoder.modelState(), basalith::ModelState::loaded);
}

} // namespace
} // namespace vocalith
