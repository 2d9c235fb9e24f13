#include "capture/mixer/AudioChunkNames.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

namespace fs = std::filesystem;

TEST(AudioChunkNamesTest, ChunkFilesAreTheWavFilesOfOneStreamInNameOrder) {
    const std::vector<fs::path> files = {"a/sys_0002.wav",  "a/mic_0002.WAV",   "a/mic_0001.wav",
                                         "a/mic_notes.txt", "a/mix_temp_1.wav", "a/mic_0003.wav.part",
                                         "a/.mic_0004.wav"};
    EXPECT_EQ(AudioChunkNames::chunkFiles(files, AudioChunkNames::micPrefix),
              (std::vector<fs::path>{"a/mic_0001.wav", "a/mic_0002.WAV"}));
    EXPECT_EQ(AudioChunkNames::chunkFiles(files, AudioChunkNames::sysPrefix),
              (std::vector<fs::path>{"a/sys_0002.wav"}));
    EXPECT_TRUE(AudioChunkNames::chunkFiles({}, AudioChunkNames::micPrefix).empty());
}

TEST(AudioChunkNamesTest, FileNamesCarryAtLeastFourDigitsAndReadBack) {
    EXPECT_EQ(AudioChunkNames::chunkFileName(AudioChunkNames::micPrefix, 3), "mic_0003.wav");
    EXPECT_EQ(AudioChunkNames::chunkFileName(AudioChunkNames::sysPrefix, 12345), "sys_12345.wav");
    for (const std::int64_t number : {0, 7, 9999, 10000})
        EXPECT_EQ(AudioChunkNames::chunkNumber(AudioChunkNames::chunkFileName("mic_", number), "mic_"),
                  number);
    EXPECT_TRUE(AudioChunkNames::isWav("x/Y.Wav"));
    EXPECT_FALSE(AudioChunkNames::isWav("x/wav"));
    EXPECT_FALSE(AudioChunkNames::isWav("x/y.wave"));
}

} // namespace
} // namespace velnote
