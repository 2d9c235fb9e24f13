#include "engine/speech/WhisperError.h"

#include "engine/foundation/support/LogLines.h"

#include <gtest/gtest.h>

namespace vocalith {
namespace {

using basalith::testing::LogLines;
using Level = basalith::Logging::LogLevel;

TEST(WhisperErrorTest, EqualByCaseAndMessage) {
    const auto missing = WhisperError::loadAudioFailed("Resource path does not exist /a.wav");
    EXPECT_EQ(missing, WhisperError::loadAudioFailed("Resource path does not exist /a.wav"));
    EXPECT_FALSE(missing == WhisperError::modelsUnavailable("Resource path does not exist /a.wav"));
    EXPECT_FALSE(missing == WhisperError::loadAudioFailed("Resource path does not exist /b.wav"));
    EXPECT_EQ(WhisperError::tokenizerUnavailable().message(), "Tokenizer is unavailable");
    EXPECT_EQ(WhisperError::modelsUnavailable().errorCase(), WhisperError::Case::modelsUnavailable);
    EXPECT_EQ(static_cast<int>(WhisperError::Case::initializationError), 11);
}

TEST(WhisperErrorTest, DescriptionLogsEachReadAtErrorLevel) {
    const auto error = WhisperError::decodingFailed("Decoding failed");
    {
        LogLines log(Level::error);
        EXPECT_EQ(error.errorDescription(), "Decoding failed");
        EXPECT_EQ(error.errorDescription(), "Decoding failed");
        EXPECT_EQ(log.lines(), (std::vector<std::string>{"Decoding failed", "Decoding failed"}));
        // what() is for handlers that only know std::exception; it does not log.
        EXPECT_STREQ(error.what(), "Decoding failed");
        EXPECT_EQ(log.lines().size(), 2u);
    }
    LogLines silent(Level::none);
    EXPECT_EQ(error.errorDescription(), "Decoding failed");
    EXPECT_TRUE(silent.lines().empty());
}

} // namespace
} // namespace vocalith
