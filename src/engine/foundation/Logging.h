#pragma once

#include <atomic>
#include <charconv>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>

namespace basalith {

// The one process-wide logger of both engines. Lines go to the host's callback when one is set,
// otherwise to the system log (the systemd journal, or stderr when there is none).
//
// The level starts at `none`, so the engines stay silent until one of them is made verbose. A level
// test costs one atomic read; the items are turned into text only when the line will be written.
class Logging {
  public:
    enum class LogLevel : int { debug = 1, info = 2, error = 3, none = 4 };
    // The system log's message types; `log` takes one directly.
    enum class LogType { defaultType, info, debug, error, fault };

    using Callback = std::function<void(const std::string& line)>;
    // Where lines go when no callback is set. Replaceable so tests can watch the system log.
    using SystemLogWriter = std::function<void(LogType type, const std::string& line)>;

    // Joins the items of one line; " " unless a call passes its own as the first argument.
    struct Separator {
        std::string_view text;
    };

    // Subsystem and category of every system-log line. There is no application bundle identifier
    // on Linux, so the engines' own subsystem name is used.
    static constexpr const char* kSubsystem = "com.quorvane.basalith";
    static constexpr const char* kCategory = "Quorvane";

    // The one logger, made on first use.
    static Logging& shared();

    // No level for any value other than 1...4.
    static std::optional<LogLevel> logLevelFromRaw(int raw);

    LogLevel logLevel() const { return level_.load(std::memory_order_relaxed); }
    void setLogLevel(LogLevel level) { level_.store(level, std::memory_order_relaxed); }

    Callback loggingCallback() const;
    // An empty function removes the callback. The callback runs on the logging thread, possibly on
    // several threads at once.
    void setLoggingCallback(Callback callback);

    // Returns the writer it replaces. The default writes to the journal, or stderr without one.
    SystemLogWriter setSystemLogWriter(SystemLogWriter writer);

    // Writes while the level is debug. Items become text as `toLogText` shows them, joined by the
    // separator; no terminator is ever appended.
    template <class... Items> static void debug(const Items&... items) {
        shared().emitIf(LogLevel::debug, LogType::debug, items...);
    }
    // Writes while the level is debug or info.
    template <class... Items> static void info(const Items&... items) {
        shared().emitIf(LogLevel::info, LogType::info, items...);
    }
    // Writes while the level is debug, info or error; never at none.
    template <class... Items> static void error(const Items&... items) {
        shared().emitIf(LogLevel::error, LogType::error, items...);
    }
    // Writes with the given type whatever the level.
    template <class... Items> void log(LogType type, const Items&... items) {
        emit(type, buildLine(items...));
    }

    // "%8.2f ms / %6.0f runs (%8.2f ms/run) %5.2f%%" of time×1000, runs, time×1000/runs (0 when runs
    // is not above 0) and time×1000/fullPipelineMs×100. A zero full duration prints inf or nan.
    // time_s: seconds; fullPipelineMs: milliseconds.
    static std::string formatTimeWithPercentage(double time_s, double runs, double fullPipelineMs);

    // Debug line "<message> - Memory usage: <n> MB"; the memory is read even when the level lets
    // nothing through.
    static void logCurrentMemoryUsage(const std::string& message);
    // Resident memory of the process in whole MiB; 0 when it cannot be read.
    static std::uint64_t getMemoryUsage();

    // The text of one item: strings as they are, booleans as true/false, integers in decimal,
    // floating point in the shortest form that reads back exactly, always with a fraction or an
    // exponent ("1.0", "2.5", "1e+20"); anything else through its operator<<.
    template <class T> static std::string toLogText(const T& item);

  private:
    Logging();

    template <class... Items> void emitIf(LogLevel threshold, LogType type, const Items&... items) {
        const LogLevel level = logLevel();
        if (level == LogLevel::none || static_cast<int>(level) > static_cast<int>(threshold))
            return;
        emit(type, buildLine(items...));
    }

    template <class First, class... Rest>
    static std::string buildLine(const First& first, const Rest&... rest) {
        if constexpr (std::is_same_v<First, Separator>) {
            return join(first.text, rest...);
        } else {
            return join(" ", first, rest...);
        }
    }
    static std::string buildLine() { return {}; }

    template <class... Items> static std::string join(std::string_view separator, const Items&... items) {
        std::string line;
        bool first = true;
        ((line += (first ? "" : separator), line += toLogText(items), first = false), ...);
        return line;
    }

    void emit(LogType type, const std::string& line);
    static std::string floatingText(double value, bool single);

    std::atomic<LogLevel> level_{LogLevel::none};
    mutable std::mutex mutex_; // guards the two functions below
    std::shared_ptr<const Callback> callback_;
    std::shared_ptr<const SystemLogWriter> systemLog_;
};

template <class T> std::string Logging::toLogText(const T& item) {
    using U = std::decay_t<T>;
    if constexpr (std::is_convertible_v<const U&, std::string_view>) {
        return std::string(std::string_view(item));
    } else if constexpr (std::is_same_v<U, bool>) {
        return item ? "true" : "false";
    } else if constexpr (std::is_same_v<U, char>) {
        return std::string(1, item);
    } else if constexpr (std::is_integral_v<U>) {
        char buffer[32];
        auto result = std::to_chars(buffer, buffer + sizeof buffer, item);
        return std::string(buffer, result.ptr);
    } else if constexpr (std::is_floating_point_v<U>) {
        return floatingText(static_cast<double>(item), std::is_same_v<U, float>);
    } else {
        std::ostringstream out;
        out << item;
        return out.str();
    }
}

// The memory helpers as free functions, for callers outside the logger.
void logCurrentMemoryUsage(const std::string& message);
std::uint64_t getMemoryUsage();

} // namespace basalith
