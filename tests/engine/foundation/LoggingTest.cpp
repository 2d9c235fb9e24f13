#include "engine/foundation/Logging.h"

#include "support/LogLines.h"

#include <gtest/gtest.h>
#include <thread>

namespace basalith {
namespace {

using testing::LogLines;
using Level = Logging::LogLevel;

// Watches the system log for the test's duration.
class SystemLog {
  public:
    SystemLog() {
        previous_ =
            Logging::shared().setSystemLogWriter([this](Logging::LogType type, const std::string& line) {
                std::lock_guard lock(mutex_);
                entries_.emplace_back(type, line);
            });
    }
    ~SystemLog() { Logging::shared().setSystemLogWriter(previous_); }
    std::vector<std::pair<Logging::LogType, std::string>> entries() const {
        std::lock_guard lock(mutex_);
        return entries_;
    }

  private:
    Logging::SystemLogWriter previous_;
    mutable std::mutex mutex_;
    std::vector<std::pair<Logging::LogType, std::string>> entries_;
};

struct Described {
    int* count;
};
std::ostream& operator<<(std::ostream& out, const Described& item) {
    ++*item.count;
    return out << "described";
}

void logOneOfEach() {
    Logging::debug("d");
    Logging::info("i");
    Logging::error("e");
}

TEST(LoggingTest, LevelDecidesWhichLinesPass) {
    struct Case {
        Level level;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {Level::debug, {"d", "i", "e"}},
        {Level::info, {"i", "e"}},
        {Level::error, {"e"}},
        {Level::none, {}},
    };
    for (const auto& c : cases) {
        LogLines log(c.level);
        logOneOfEach();
        EXPECT_EQ(log.lines(), c.expected) << static_cast<int>(c.level);
    }
}

TEST(LoggingTest, StartsSilentAndLogIgnoresTheLevel) {
    EXPECT_EQ(Logging::shared().logLevel(), Level::none);
    SystemLog systemLog;
    logOneOfEach();
    Logging::shared().log(Logging::LogType::fault, "always");
    auto entries = systemLog.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].first, Logging::LogType::fault);
    EXPECT_EQ(entries[0].second, "always");
}

TEST(LoggingTest, LevelsFromRawValues) {
    EXPECT_EQ(Logging::logLevelFromRaw(1), Level::debug);
    EXPECT_EQ(Logging::logLevelFromRaw(2), Level::info);
    EXPECT_EQ(Logging::logLevelFromRaw(3), Level::error);
    EXPECT_EQ(Logging::logLevelFromRaw(4), Level::none);
    for (int raw : {0, 5, -1})
        EXPECT_FALSE(Logging::logLevelFromRaw(raw)) << raw;
}

TEST(LoggingTest, ItemsAreJoinedWithTheSeparatorAndNoTerminator) {
    LogLines log;
    Logging::debug(Logging::Separator{"-"}, "a", 1, 2.5);
    Logging::debug("x", true, 1.0, 0.1f, std::string("y"));
    Logging::debug();
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"a-1-2.5", "x true 1.0 0.1 y", ""}));
}

TEST(LoggingTest, CallbackReplacesTheSystemLog) {
    SystemLog systemLog;
    LogLines log(Level::info);
    Logging::info("to the host");
    EXPECT_EQ(log.lines(), std::vector<std::string>{"to the host"});
    EXPECT_TRUE(systemLog.entries().empty());
}

TEST(LoggingTest, ItemsAreTurnedIntoTextOnlyWhenTheLineIsWritten) {
    int described = 0;
    {
        LogLines log(Level::error);
        Logging::info(Described{&described});
        EXPECT_EQ(described, 0);
    }
    LogLines log(Level::info);
    Logging::info(Described{&described});
    EXPECT_EQ(described, 1);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"described"});
}

TEST(LoggingTest, TimingLineFormat) {
    EXPECT_EQ(Logging::formatTimeWithPercentage(0.5, 10, 2000),
              "  500.00 ms /     10 runs (   50.00 ms/run) 25.00%");
    EXPECT_EQ(Logging::formatTimeWithPercentage(0.5, 0, 2000),
              "  500.00 ms /      0 runs (    0.00 ms/run) 25.00%");
    EXPECT_EQ(Logging::formatTimeWithPercentage(0.5, 1, 0),
              "  500.00 ms /      1 runs (  500.00 ms/run)   inf%");
}

TEST(LoggingTest, MemoryLineGivesResidentMegabytes) {
    LogLines log;
    logCurrentMemoryUsage("Loaded audio");
    const auto megabytes = getMemoryUsage();
    EXPECT_GT(megabytes, 0u);
    ASSERT_EQ(log.lines().size(), 1u);
    const std::string line = log.lines()[0];
    EXPECT_EQ(line.rfind("Loaded audio - Memory usage: ", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - 3), " MB");
}

TEST(LoggingTest, CallbackMayRunOnSeveralThreadsAtOnce) {
    LogLines log(Level::info);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i)
                Logging::info("thread", t, i);
        });
    }
    Logging::shared().setLogLevel(Level::info); // a change while others log is fine
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(log.lines().size(), 200u);
}

} // namespace
} // namespace basalith
