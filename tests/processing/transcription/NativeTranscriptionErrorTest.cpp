#include "processing/transcription/NativeTranscriptionError.h"

#include <gtest/gtest.h>
#include <string>

namespace velnote {
namespace {

TEST(NativeTranscriptionErrorTest, CasesDifferAndCarryTheirOwnText) {
    const NativeTranscriptionError noAudio(NativeTranscriptionError::Kind::noAudioChunks);
    const NativeTranscriptionError empty(NativeTranscriptionError::Kind::emptyTranscript);
    EXPECT_FALSE(noAudio == empty);
    EXPECT_TRUE(noAudio == NativeTranscriptionError(NativeTranscriptionError::Kind::noAudioChunks));
    EXPECT_FALSE(std::string(noAudio.what()).empty());
    EXPECT_NE(std::string(noAudio.what()), std::string(empty.what()));
}

} // namespace
} // namespace velnote
