#include "ui/preview/core/SummaryPreviewTexts.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace velnote {
namespace {

TEST(SummaryPreviewTexts, DurationIsHoursMinutesSecondsWithoutWrapping) {
    const std::pair<double, const char*> cases[] = {{0, "0:00:00"},
                                                    {307, "0:05:07"},
                                                    {4200, "1:10:00"},
                                                    {90000, "25:00:00"},
                                                    {59.6, "0:01:00"},
                                                    {-1, "00:00:00"},
                                                    {std::nan(""), "00:00:00"},
                                                    {1e300, "00:00:00"},
                                                    {std::numeric_limits<double>::infinity(), "00:00:00"}};
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(SummaryPreviewTexts::durationText(seconds), text) << seconds;
}

TEST(SummaryPreviewTexts, RunConfigBarShowsOnlyWhatTheRunRecorded) {
    using Bar = SummaryPreviewTexts::RunConfigBar;
    const auto bare = SummaryPreviewTexts::runConfigBar({.provider = "openai"});
    EXPECT_EQ(bare.provider, "OpenAI API");
    EXPECT_TRUE(bare.chips.empty());
    EXPECT_FALSE(bare.noteTip);

    const Bar full = SummaryPreviewTexts::runConfigBar({.provider = "someday_ai",
                                                        .model = "m1",
                                                        .promptKey = "minutes",
                                                        .promptLabel = "",
                                                        .outputLanguage = "ja",
                                                        .userNote = "  "});
    EXPECT_EQ(full.provider, "someday_ai");
    EXPECT_EQ(full.chips, (std::vector<std::string>{"m1", "", "ja"}));
    EXPECT_EQ(full.noteTip, "  ");
}

TEST(SummaryPreviewTexts, SidebarFallsBackForUnknownProvidersAndEmptyLanguage) {
    SessionConfig config;
    config.summary.provider = "someday_ai";
    config.summary.providerModel = "custom-model";
    EXPECT_EQ(SummaryPreviewTexts::providerLabel(config.summary.provider), "someday_ai");
    EXPECT_EQ(SummaryPreviewTexts::sidebarModel(config), "custom-model");
    EXPECT_EQ(SummaryPreviewTexts::outputLanguage(config), "デフォルト");
    config.outputLanguage = "en";
    EXPECT_EQ(SummaryPreviewTexts::outputLanguage(config), "en");
}

} // namespace
} // namespace velnote
