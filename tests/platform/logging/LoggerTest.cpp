#include "platform/logging/Logger.h"

#include <gtest/gtest.h>

namespace velnote::platform {
namespace {

TEST(LoggerTest, CaptureRecordsSubsystemCategoryLevelAndFormattedMessage) {
    LogCapture capture;
    Logger log("com.velnote.app", "processing");
    log.info("processing start: {}", "2025-01-31T09-15-00Z");
    log.error("processing failed: {} error={}", "s1", 42);
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].subsystem, "com.velnote.app");
    EXPECT_EQ(records[0].category, "processing");
    EXPECT_EQ(records[0].level, LogLevel::info);
    EXPECT_EQ(records[0].message, "processing start: 2025-01-31T09-15-00Z");
    EXPECT_EQ(records[1].level, LogLevel::error);
    EXPECT_EQ(records[1].message, "processing failed: s1 error=42");
}

TEST(LoggerTest, FormatPlaceholdersTable) {
    struct Case {
        std::string got, expected;
    };
    const Case cases[] = {
        {format("no placeholders"), "no placeholders"},
        {format("{} and {}", 1, "two"), "1 and two"},
        {format("too few {} {}", 1), "too few 1 {}"},
        {format("surplus {}", 1, 2), "surplus 1"},
        {format("{}{}", "a", 'b'), "ab"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.got, c.expected);
}

TEST(LoggerTest, CaptureRestoresPreviousSink) {
    const auto before = currentLogSink();
    {
        LogCapture capture;
        EXPECT_NE(currentLogSink(), before);
    }
    EXPECT_EQ(currentLogSink(), before);
}

} // namespace
} // namespace velnote::platform
