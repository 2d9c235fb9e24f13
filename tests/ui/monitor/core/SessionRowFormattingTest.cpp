#include "ui/monitor/core/SessionRowFormatting.h"

#include "session/config/SummaryProvider.h"

#include <gtest/gtest.h>
#include <limits>

namespace velnote {
namespace {
using namespace std::chrono;

TEST(SessionRowFormattingTest, DurationsRoundHalfAwayFromZeroAndNeverFold) {
    const std::pair<std::optional<double>, std::optional<std::string>> cases[] = {
        {std::nullopt, std::nullopt},
        {0.0, "Duration: 0s"},
        {45.0, "Duration: 45s"},
        {59.4, "Duration: 59s"},
        {59.5, "Duration: 1m0s"},
        {60.0, "Duration: 1m0s"},
        {125.0, "Duration: 2m5s"},
        {3599.5, "Duration: 1h0m0s"},
        {3725.0, "Duration: 1h2m5s"},
        {-3.0, "Duration: -3s"},
        // Not a measurable length: no text rather than an undefined conversion.
        {std::numeric_limits<double>::quiet_NaN(), std::nullopt},
        {std::numeric_limits<double>::infinity(), std::nullopt},
        {1e300, std::nullopt},
        {-1e300, std::nullopt},
    };
    for (const auto& [seconds, expected] : cases)
        EXPECT_EQ(SessionRowFormatting::formattedDuration(seconds), expected) << seconds.value_or(-1);
}

TEST(SessionRowFormattingTest, SubtitleJoinsDurationAndTrimmedHeadline) {
    struct Case {
        std::optional<std::string> headline;
        std::optional<double> duration;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"  Weekly sync \n", 65.0, "Duration: 1m5s ・ Weekly sync"},
        {"Weekly sync", std::nullopt, "Weekly sync"},
        {" \n\t ", 65.0, "Duration: 1m5s"},
        {" \n", std::nullopt, std::nullopt},
        {std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SessionStatusSnapshot snapshot;
        snapshot.summaryHeadline = c.headline;
        snapshot.recordingDuration = c.duration;
        EXPECT_EQ(SessionRowFormatting::subtitleText(snapshot), c.expected) << c.headline.value_or("<none>");
    }
}

TEST(SessionRowFormattingTest, ElapsedTimeRunsToNowOnlyWhileRunning) {
    const sys_seconds start{seconds{1'700'000'000}};
    const auto now = system_clock::time_point(start) + milliseconds{59'900};
    const sys_seconds yearOne{sys_days{year{1} / January / 1}};
    const sys_seconds farFuture{sys_days{year{9999} / December / 31}};
    struct Case {
        StepStatus status;
        std::optional<sys_seconds> startedAt;
        std::optional<sys_seconds> completedAt;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {StepStatus::running, start, std::nullopt, "59s"},
        {StepStatus::done, start, start + seconds{3725}, "62m5s"},
        {StepStatus::failed, start, start + seconds{42}, "42s"},
        {StepStatus::failed, start, std::nullopt, std::nullopt},
        {StepStatus::pending, start, std::nullopt, std::nullopt},
        {StepStatus::running, std::nullopt, std::nullopt, std::nullopt},
        {StepStatus::done, start, start - seconds{1}, std::nullopt},
        // Dates "session.json" may hold that lie beyond the clock's nanosecond range.
        {StepStatus::done, yearOne, yearOne + seconds{65}, "1m5s"},
        {StepStatus::running, farFuture, std::nullopt, std::nullopt},
        {StepStatus::running, start + seconds{60}, std::nullopt, "0s"}, // -0.1 s cut toward zero
        {StepStatus::running, start + seconds{61}, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        const StepState state{.status = c.status, .startedAt = c.startedAt, .completedAt = c.completedAt};
        EXPECT_EQ(SessionRowFormatting::elapsedText(state, now), c.expected) << rawValue(c.status);
    }
}

TEST(SessionRowFormattingTest, ConfigurationTexts) {
    SessionConfig config;
    config.transcription.whisperModel = "medium";
    config.transcription.language = "  ";
    config.outputLanguage = "ja";
    EXPECT_EQ(SessionRowFormatting::transcriptionConfigText(config),
              "Model: medium · Input: Auto · Output: ja");
    config.transcription.language = " en ";
    EXPECT_EQ(SessionRowFormatting::transcriptionConfigText(config),
              "Model: medium · Input: en · Output: ja");

    const std::pair<std::optional<std::int64_t>, std::string> speakers[] = {
        {std::nullopt, "Enabled"}, {0, "Enabled"}, {-2, "Enabled"}, {3, "Enabled (3 speakers)"}};
    config.transcription.diarizationEnabled = true;
    for (const auto& [count, expected] : speakers) {
        config.transcription.numberOfSpeakers = count;
        EXPECT_EQ(SessionRowFormatting::diarizationConfigText(config), expected);
    }
    config.transcription.diarizationEnabled = false;
    EXPECT_EQ(SessionRowFormatting::diarizationConfigText(config), "Disabled");
    EXPECT_EQ(SessionRowFormatting::nightlyBatchText(config), "OFF");
}

TEST(SessionRowFormattingTest, SummaryTextByProvider) {
    struct Case {
        std::string provider;
        std::optional<std::string> model;
        std::optional<std::string> baseURL;
        std::string expected;
    };
    const Case cases[] = {
        {"", "x", std::nullopt, "Disabled"},
        {" ", std::nullopt, std::nullopt, " "},
        {"ollama", "llama3", std::nullopt, "Ollama · llama3"},
        {"openrouter", std::nullopt, std::nullopt, label(SummaryProvider::openRouter)},
        {"openrouter", "", std::nullopt, label(SummaryProvider::openRouter) + " · "},
        {"openai", "gpt", "https://h", "OpenAI API · gpt · https://h"},
        {"claude_cli", std::nullopt, std::nullopt, "Claude CLI · Model: Auto"},
        {"copilot_cli", " gpt-5 ", std::nullopt, "GitHub Copilot CLI · Model: gpt-5"},
        {"apple_local", "m", "u", "Apple local LLM"},
        {"mystery", "m", "u", "mystery"},
        {"local", std::nullopt, std::nullopt, "llama.cpp local LLM · qwen"},
    };
    for (const Case& c : cases) {
        SessionConfig config;
        config.summary.provider = c.provider;
        config.summary.providerModel = c.model;
        config.summary.providerBaseURL = c.baseURL;
        config.summary.localModel = "qwen";
        EXPECT_EQ(SessionRowFormatting::summaryConfigText(config), c.expected) << c.provider;
    }
}

TEST(SessionRowFormattingTest, FolderNamesReadAsDatesOrAreRewritten) {
    const std::string utc = SessionRowFormatting::formattedName("2025-01-31T09-15-00Z");
    // The same instant written with an offset reads the same.
    EXPECT_EQ(SessionRowFormatting::formattedName("2025-01-31T18-15-00+09:00"), utc);
    EXPECT_NE(utc, "2025:01:31 09:15:00");
    EXPECT_NE(SessionRowFormatting::formattedName("2025-01-31T09-15-00"), "2025:01:31 09:15:00");
    // Not a whole date: rewritten, never half-parsed.
    EXPECT_EQ(SessionRowFormatting::formattedName("2025-01-31T09-15-00Z_2"), "2025:01:31 09:15:00_2");
    EXPECT_EQ(SessionRowFormatting::formattedName("meeting-notes"), "meeting:notes");
    EXPECT_EQ(SessionRowFormatting::formattedName(""), "");
}

} // namespace
} // namespace velnote
