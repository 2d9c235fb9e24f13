#pragma once

#include "platform/logging/Format.h"

#include <memory>
#include <string>
#include <vector>

namespace velnote::platform {

// Ordered from least to most severe; `notice` is the "default" level.
enum class LogLevel { debug, info, notice, error, fault };

const char* logLevelName(LogLevel level);

struct LogRecord {
    std::string subsystem;
    std::string category;
    LogLevel level = LogLevel::notice;
    std::string message;
};

class LogSink {
  public:
    virtual ~LogSink() = default;
    virtual void write(const LogRecord& record) = 0;
};

// The sink every logger writes to: the systemd journal when its socket exists,
// else stderr. Tests replace it with a `LogCapture`.
std::shared_ptr<LogSink> currentLogSink();
void setLogSink(std::shared_ptr<LogSink> sink);
std::shared_ptr<LogSink> makeDefaultLogSink();

// A logger for one subsystem and category. Cheap to copy; thread-safe.
// Messages use "{}" placeholders: log.info("processing start: {}", name).
class Logger {
  public:
    Logger(std::string subsystem, std::string category);

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

    void log(LogLevel level, std::string message) const;

    template <typename... Args> void debug(std::string_view fmt, const Args&... args) const {
        log(LogLevel::debug, format(fmt, args...));
    }
    template <typename... Args> void info(std::string_view fmt, const Args&... args) const {
        log(LogLevel::info, format(fmt, args...));
    }
    template <typename... Args> void notice(std::string_view fmt, const Args&... args) const {
        log(LogLevel::notice, format(fmt, args...));
    }
    template <typename... Args> void error(std::string_view fmt, const Args&... args) const {
        log(LogLevel::error, format(fmt, args...));
    }
    template <typename... Args> void fault(std::string_view fmt, const Args&... args) const {
        log(LogLevel::fault, format(fmt, args...));
    }

  private:
    std::string subsystem_;
    std::string category_;
};

// Installs a capturing sink for its lifetime and restores the previous one.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogRecord> records() const;
    // True when some record's message contains `text`.
    bool contains(std::string_view text) const;

  private:
    class Sink;
    std::shared_ptr<Sink> sink_;
    std::shared_ptr<LogSink> previous_;
};

} // namespace velnote::platform
