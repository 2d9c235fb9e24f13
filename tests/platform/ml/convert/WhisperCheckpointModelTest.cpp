#include "platform/ml/Model.h"
#include "platform/ml/convert/ModelConverter.h"
#include "platform/ml/convert/WhisperCheckpoint.h"
#include "support/FetchedModels.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace velnote::platform::ml {
namespace {

TEST(WhisperCheckpointModelTest, PinnedPackagesHoldCompleteCheckpointsThatConvertIntoLoadableVariants) {
    struct Expected {
        const char* folder;
        WhisperHyperParameters parameters;
        int startOfTranscript;
        int transcribe;
        std::size_t alignmentHeads;
    };
    const Expected expected[] = {
        {"whisper-base",
         {.melCount = 80,
          .audioContextLength = 1500,
          .audioLayerCount = 6,
          .audioHeadCount = 8,
          .textContextLength = 448,
          .textLayerCount = 6,
          .textHeadCount = 8,
          .vocabularySize = 51865,
          .width = 512},
         50258,
         50359,
         8},
        {"whisper-tiny.en",
         {.melCount = 80,
          .audioContextLength = 1500,
          .audioLayerCount = 4,
          .audioHeadCount = 6,
          .textContextLength = 448,
          .textLayerCount = 4,
          .textHeadCount = 6,
          .vocabularySize = 51864,
          .width = 384},
         50257,
         50358,
         8},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.folder);
        const auto folder = testing::fetchedModel(e.folder);
        if (!folder)
            GTEST_SKIP() << testing::kFetchHint;
        const auto checkpoint = WhisperCheckpoint::load(*folder);
        const auto& p = checkpoint.parameters();
        EXPECT_EQ(p.melCount, e.parameters.melCount);
        EXPECT_EQ(p.audioContextLength, e.parameters.audioContextLength);
        EXPECT_EQ(p.audioLayerCount, e.parameters.audioLayerCount);
        EXPECT_EQ(p.audioHeadCount, e.parameters.audioHeadCount);
        EXPECT_EQ(p.textContextLength, e.parameters.textContextLength);
        EXPECT_EQ(p.textLayerCount, e.parameters.textLayerCount);
        EXPECT_EQ(p.textHeadCount, e.parameters.textHeadCount);
        EXPECT_EQ(p.vocabularySize, e.parameters.vocabularySize);
        EXPECT_EQ(p.width, e.parameters.width);
        EXPECT_EQ(checkpoint.promptTokens().startOfTranscript, e.startOfTranscript);
        EXPECT_EQ(checkpoint.promptTokens().transcribe, e.transcribe);
        EXPECT_EQ(checkpoint.promptTokens().translate, e.transcribe - 1);
        EXPECT_EQ(checkpoint.alignmentHeads().size(), e.alignmentHeads);
        // 15 tensors per encoder block and 24 per decoder block, 7 and 4 outside them.
        EXPECT_EQ(checkpoint.tensors().size(), 7u + 15u * p.audioLayerCount + 4u + 24u * p.textLayerCount);

        testing::TempDir dir;
        convertCheckpoint(checkpoint, dir / "variant");
        for (const char* model : {kMelSpectrogramFolder, kAudioEncoderFolder, kTextDecoderFolder,
                                  kTextDecoderContextPrefillFolder})
            EXPECT_NO_THROW(Model::prewarm(dir / "variant" / model)) << model;
    }
}

} // namespace
} // namespace velnote::platform::ml
